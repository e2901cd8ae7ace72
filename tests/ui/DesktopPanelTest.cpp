#include "ui/DesktopPanel.h"

#include "input/VoiceInputController.h"
#include "ui/QtClipboard.h"
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
using testing::middleColour;
using testing::RecordingClient;

class DesktopPanelTest : public testing::ModelTest {
protected:
    std::unique_ptr<DesktopPanel> panel;

    void SetUp() override
    {
        ModelTest::SetUp();
        panel = std::make_unique<DesktopPanel>(*state);
        panel->resize(530, 300);
        panel->show();
    }
};

TEST_F(DesktopPanelTest, ShowsStatusModeAndControlsThatNeverTakeTheKeyboard)
{
    EXPECT_EQ(panel->statusLabel()->text(), QStringLiteral("未连接手机"));
    EXPECT_EQ(panel->modeLabel()->text(), QStringLiteral("中"));
    EXPECT_EQ(panel->hintLabel()->text(), QStringLiteral("点击输入框后，文字将在光标处输入"));
    EXPECT_EQ(panel->copyButton()->text(), QStringLiteral("复制文字"));
    EXPECT_EQ(panel->pauseButton()->text(), QStringLiteral("暂停接收"));
    EXPECT_TRUE(panel->copyButton()->isVisible());
    EXPECT_TRUE(panel->pauseButton()->isVisible());
    EXPECT_EQ(panel->transcript()->toPlainText(), QString());
    EXPECT_GE(panel->transcript()->height(), DesktopPanel::kTranscriptMinimumHeight);
    EXPECT_TRUE(panel->transcript()->isReadOnly());
    EXPECT_TRUE(panel->transcript()->textInteractionFlags() & Qt::TextSelectableByMouse);
    for (QWidget* control : {static_cast<QWidget*>(panel->copyButton()),
                             static_cast<QWidget*>(panel->pauseButton()),
                             static_cast<QWidget*>(panel->transcript())})
        EXPECT_EQ(control->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(panel->transcript()->testAttribute(Qt::WA_InputMethodEnabled));

    state->setStatus(QStringLiteral("正在接收手机文字"));
    EXPECT_EQ(panel->statusLabel()->text(), QStringLiteral("正在接收手机文字"));
    state->setChinese(false);
    EXPECT_EQ(panel->modeLabel()->text(), QStringLiteral("EN"));
    state->setChinese(true);
    EXPECT_EQ(panel->modeLabel()->text(), QStringLiteral("中"));
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
    EXPECT_EQ(panel->transcript()->toPlainText(), expected);

    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    EXPECT_EQ(clipboard.writes, std::vector<QString>{expected});

    state->clearHistory();
    EXPECT_EQ(panel->transcript()->toPlainText(), QString());
}

TEST_F(DesktopPanelTest, CopyReachesTheDesktopClipboard)
{
    QtClipboard desktopClipboard;
    DesktopState withDesktopClipboard(secrets, defaults, &desktopClipboard);
    DesktopPanel desktopPanel(withDesktopClipboard);
    withDesktopClipboard.addToHistory(finalTranscript("a", QStringLiteral("第一句")));
    withDesktopClipboard.addToHistory(finalTranscript("b", QStringLiteral("第二句")));
    QTest::mouseClick(desktopPanel.copyButton(), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("第一句\n第二句"));
}

TEST_F(DesktopPanelTest, LinesAreSpacedAndTheReaderKeepsTheirPlace)
{
    for (int i = 0; i < 30; ++i)
        state->addToHistory(finalTranscript(QString::number(i), QStringLiteral("第 %1 句话").arg(i)));
    const QTextBlockFormat format = panel->transcript()->document()->firstBlock().blockFormat();
    EXPECT_EQ(format.lineHeight(), DesktopPanel::kLineSpacing);
    EXPECT_EQ(format.lineHeightType(), int(QTextBlockFormat::LineDistanceHeight));

    QScrollBar* bar = panel->transcript()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 40);
    bar->setValue(40);
    state->addToHistory(finalTranscript("new", QStringLiteral("新的一句")));
    EXPECT_EQ(bar->value(), 40);
}

TEST_F(DesktopPanelTest, PauseTogglesAndAbandonsVoiceInTheFocusedSession)
{
    QTest::mouseClick(panel->pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(state->paused());
    EXPECT_EQ(panel->pauseButton()->text(), QStringLiteral("恢复接收"));

    RecordingClient client;
    VoiceInputController controller(*state);
    controller.setClient(&client);
    controller.activateServer();
    controller.voice(QStringLiteral("你好"), false, QStringLiteral("u1"));
    ASSERT_EQ(client.markedText, QStringLiteral("你好"));

    // Resuming abandons it as well as pausing does.
    QTest::mouseClick(panel->pauseButton(), Qt::LeftButton);
    EXPECT_FALSE(state->paused());
    EXPECT_EQ(panel->pauseButton()->text(), QStringLiteral("暂停接收"));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_FALSE(controller.voiceID().has_value());
}

TEST_F(DesktopPanelTest, AccentAndSchemeFollowTheDefaultsAtOnce)
{
    EXPECT_EQ(middleColour(*panel->statusDot()), QColor(testing::kTeal));
    EXPECT_EQ(panel->statusDot()->size(), QSize(7, 7));
    EXPECT_EQ(panel->palette().color(QPalette::Highlight), QColor(testing::kTeal));
    defaults.setString(QStringLiteral("accent"), QStringLiteral("#7c3aed"));
    EXPECT_EQ(middleColour(*panel->statusDot()), QColor(testing::kViolet));
    EXPECT_EQ(panel->palette().color(QPalette::Highlight), QColor(testing::kViolet));
    const QImage copy = panel->copyButton()->grab().toImage();
    EXPECT_EQ(copy.pixelColor(6, copy.height() / 2), QColor(testing::kViolet)) << "filled with the accent";
    defaults.setString(QStringLiteral("accent"), QStringLiteral("no colour"));
    EXPECT_EQ(middleColour(*panel->statusDot()), QColor(testing::kTeal));

    defaults.setString(QStringLiteral("appearance"), QStringLiteral("dark"));
    EXPECT_TRUE(isDark(*panel));
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("sepia"));
    EXPECT_FALSE(isDark(*panel)) << "unknown schemes are light";
}

TEST_F(DesktopPanelTest, SystemSchemeFollowsTheDesktopPalette)
{
    const QPalette desktop = QApplication::palette();
    QPalette darkDesktop = desktop;
    darkDesktop.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    QApplication::setPalette(darkDesktop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return isDark(*panel); }, 5000));

    // Chosen explicitly, light stays light whatever the desktop does.
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("light"));
    EXPECT_FALSE(isDark(*panel));
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("system"));
    EXPECT_TRUE(isDark(*panel));

    QApplication::setPalette(desktop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !isDark(*panel); }, 5000));
}

} // namespace
} // namespace tellwire
