#include "ui/DesktopPanel.h"

#include "input/VoiceInputController.h"
#include "WidgetTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

namespace tellwire {
namespace {

using testing::finalTranscript;
using testing::isDark;

class DesktopPanelTest : public testing::ModelTest {
protected:
    DesktopPanel panel{*state};

    void SetUp() override
    {
        panel.resize(530, 300);
        panel.show();
    }
};

TEST_F(DesktopPanelTest, ShowsStatusModeAndControlsThatNeverTakeTheKeyboard)
{
    EXPECT_EQ(panel.statusLabel()->text(), QStringLiteral("未连接手机"));
    EXPECT_EQ(panel.modeLabel()->text(), QStringLiteral("中"));
    EXPECT_EQ(panel.hintLabel()->text(), QStringLiteral("点击输入框后，文字将在光标处输入"));
    EXPECT_EQ(panel.copyButton()->text(), QStringLiteral("复制文字"));
    EXPECT_EQ(panel.pauseButton()->text(), QStringLiteral("暂停接收"));
    EXPECT_GE(panel.transcript()->height(), DesktopPanel::kTranscriptMinimumHeight);
    EXPECT_TRUE(panel.transcript()->isReadOnly());
    EXPECT_TRUE(panel.transcript()->textInteractionFlags() & Qt::TextSelectableByMouse);
    for (QWidget* control : std::initializer_list<QWidget*>{panel.copyButton(), panel.pauseButton(), panel.transcript()})
        EXPECT_EQ(control->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(panel.transcript()->testAttribute(Qt::WA_InputMethodEnabled));

    state->setStatus(QStringLiteral("正在接收手机文字"));
    EXPECT_EQ(panel.statusLabel()->text(), QStringLiteral("正在接收手机文字"));
    state->setChinese(false);
    EXPECT_EQ(panel.modeLabel()->text(), QStringLiteral("EN"));
}

TEST_F(DesktopPanelTest, ShowsTextsOldestFirstAndCopiesExactlyThat)
{
    // No text: no line. Empty text: a blank line.
    state->addToHistory(finalTranscript("a", QStringLiteral("今天天气很好")));
    state->addToHistory(finalTranscript("b", std::nullopt));
    state->addToHistory(finalTranscript("c", QStringLiteral("我们出去走走")));
    state->addToHistory(finalTranscript("d", QString()));
    state->addToHistory(finalTranscript("e", QStringLiteral("好的")));
    const QString expected = QStringLiteral("今天天气很好\n我们出去走走\n\n好的");
    EXPECT_EQ(panel.transcript()->toPlainText(), expected);

    QTest::mouseClick(panel.copyButton(), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), expected);

    state->clearHistory();
    EXPECT_EQ(panel.transcript()->toPlainText(), QString());
}

TEST_F(DesktopPanelTest, LinesAreSpacedAndTheReaderKeepsTheirPlace)
{
    for (int i = 0; i < 30; ++i)
        state->addToHistory(finalTranscript(QString::number(i), QStringLiteral("第 %1 句话").arg(i)));
    const QTextBlockFormat format = panel.transcript()->document()->firstBlock().blockFormat();
    EXPECT_EQ(format.lineHeight(), DesktopPanel::kLineSpacing);
    EXPECT_EQ(format.lineHeightType(), int(QTextBlockFormat::LineDistanceHeight));

    QScrollBar* bar = panel.transcript()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 40);
    bar->setValue(40);
    state->addToHistory(finalTranscript("new", QStringLiteral("新的一句")));
    EXPECT_EQ(bar->value(), 40);
}

// Resuming abandons the focused session's voice as well as pausing does.
TEST_F(DesktopPanelTest, PauseTogglesAndAbandonsVoiceInTheFocusedSession)
{
    QTest::mouseClick(panel.pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(state->paused());
    EXPECT_EQ(panel.pauseButton()->text(), QStringLiteral("恢复接收"));

    testing::RecordingClient client;
    VoiceInputController controller(*state);
    controller.setClient(&client);
    controller.activateServer();
    controller.voice(QStringLiteral("你好"), false, QStringLiteral("u1"));
    ASSERT_EQ(client.markedText, QStringLiteral("你好"));

    QTest::mouseClick(panel.pauseButton(), Qt::LeftButton);
    EXPECT_FALSE(state->paused());
    EXPECT_EQ(panel.pauseButton()->text(), QStringLiteral("暂停接收"));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_FALSE(controller.voiceID().has_value());
}

TEST_F(DesktopPanelTest, SystemSchemeFollowsTheDesktopPalette)
{
    const QPalette desktop = QApplication::palette();
    QPalette darkDesktop = desktop;
    darkDesktop.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    QApplication::setPalette(darkDesktop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return isDark(panel); }, 5000));

    // Chosen explicitly, light stays light whatever the desktop does.
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("light"));
    EXPECT_FALSE(isDark(panel));
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("system"));
    EXPECT_TRUE(isDark(panel));

    QApplication::setPalette(desktop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !isDark(panel); }, 5000));
}

} // namespace
} // namespace tellwire
