#include "ui/DesktopPanel.h"

#include "input/VoiceInputController.h"
#include "ui/QtClipboard.h"
#include "ui/StatusDot.h"
#include "WidgetTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>

namespace tellwire {
namespace {

using testing::finalTranscript;
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

    static bool isDark(const QWidget& widget)
    {
        return widget.palette().color(QPalette::Window).lightness() < 128;
    }
};

TEST_F(DesktopPanelTest, StartsWithStatusModeAndBothControls)
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
}

TEST_F(DesktopPanelTest, FollowsStatusAndInputMode)
{
    state->setStatus(QStringLiteral("正在接收手机文字"));
    EXPECT_EQ(panel->statusLabel()->text(), QStringLiteral("正在接收手机文字"));
    state->setChinese(false);
    EXPECT_EQ(panel->modeLabel()->text(), QStringLiteral("EN"));
    state->setChinese(true);
    EXPECT_EQ(panel->modeLabel()->text(), QStringLiteral("中"));
}

TEST_F(DesktopPanelTest, ShowsHistoryOldestFirstAndCopiesTheSameText)
{
    state->addToHistory(finalTranscript("a", QStringLiteral("今天天气很好")));
    state->addToHistory(finalTranscript("b", QStringLiteral("我们出去走走")));
    state->addToHistory(finalTranscript("c", QStringLiteral("好的")));
    const QString expected = QStringLiteral("今天天气很好\n我们出去走走\n好的");
    EXPECT_EQ(panel->transcript()->toPlainText(), expected);

    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    ASSERT_EQ(clipboard.writes.size(), 1u);
    EXPECT_EQ(clipboard.writes.back(), expected);
}

TEST_F(DesktopPanelTest, EntryWithoutTextLeavesNoLineButEmptyTextLeavesABlankOne)
{
    state->addToHistory(finalTranscript("a", QStringLiteral("A")));
    state->addToHistory(finalTranscript("b", std::nullopt));
    state->addToHistory(finalTranscript("c", QStringLiteral("B")));
    state->addToHistory(finalTranscript("d", QString()));
    state->addToHistory(finalTranscript("e", QStringLiteral("C")));
    EXPECT_EQ(panel->transcript()->toPlainText(), QStringLiteral("A\nB\n\nC"));
    EXPECT_EQ(panel->transcriptText(), QStringLiteral("A\nB\n\nC"));

    state->clearHistory();
    EXPECT_EQ(panel->transcript()->toPlainText(), QString());
}

TEST_F(DesktopPanelTest, LinesAreSpacedAndTheReaderKeepsTheirPlace)
{
    for (int i = 0; i < 30; ++i)
        state->addToHistory(finalTranscript(QString::number(i), QStringLiteral("第 %1 句话").arg(i)));
    const QTextBlock block = panel->transcript()->document()->firstBlock();
    EXPECT_EQ(block.blockFormat().lineHeight(), DesktopPanel::kLineSpacing);
    EXPECT_EQ(block.blockFormat().lineHeightType(), int(QTextBlockFormat::LineDistanceHeight));

    QScrollBar* bar = panel->transcript()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 40);
    bar->setValue(40);
    state->addToHistory(finalTranscript("new", QStringLiteral("新的一句")));
    EXPECT_EQ(bar->value(), 40);
}

TEST_F(DesktopPanelTest, CopyPutsTheTextOnTheDesktopClipboard)
{
    QtClipboard desktopClipboard;
    DesktopState withDesktopClipboard(secrets, defaults, &desktopClipboard);
    DesktopPanel desktopPanel(withDesktopClipboard);
    withDesktopClipboard.addToHistory(finalTranscript("a", QStringLiteral("第一句")));
    withDesktopClipboard.addToHistory(finalTranscript("b", QStringLiteral("第二句")));
    QTest::mouseClick(desktopPanel.copyButton(), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("第一句\n第二句"));
}

TEST_F(DesktopPanelTest, PauseTogglesAndAbandonsVoiceInTheFocusedSession)
{
    RecordingClient client;
    VoiceInputController controller(*state);
    controller.setClient(&client);
    controller.activateServer();
    controller.voice(QStringLiteral("你好"), false, QStringLiteral("u1"));
    ASSERT_EQ(client.markedText, QStringLiteral("你好"));

    QTest::mouseClick(panel->pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(state->paused());
    EXPECT_EQ(panel->pauseButton()->text(), QStringLiteral("恢复接收"));
    EXPECT_EQ(client.markedText, QString());
    EXPECT_FALSE(controller.voiceID().has_value());

    QTest::mouseClick(panel->pauseButton(), Qt::LeftButton);
    EXPECT_FALSE(state->paused());
    EXPECT_EQ(panel->pauseButton()->text(), QStringLiteral("暂停接收"));
}

TEST_F(DesktopPanelTest, PauseWithoutAFocusedSessionOnlyToggles)
{
    QTest::mouseClick(panel->pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(state->paused());
    state->setPaused(false);
    EXPECT_EQ(panel->pauseButton()->text(), QStringLiteral("暂停接收"));
}

TEST_F(DesktopPanelTest, ControlsNeverTakeTheKeyboard)
{
    EXPECT_EQ(panel->copyButton()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(panel->pauseButton()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(panel->transcript()->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(panel->transcript()->testAttribute(Qt::WA_InputMethodEnabled));
}

TEST_F(DesktopPanelTest, AccentColoursTheDotAndTheControlsAtOnce)
{
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x0c, 0x94, 0x88));
    EXPECT_EQ(panel->palette().color(QPalette::Highlight), QColor(0x0c, 0x94, 0x88));

    defaults.setString(QStringLiteral("accent"), QStringLiteral("#7c3aed"));
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x7c, 0x3a, 0xed));
    EXPECT_EQ(panel->palette().color(QPalette::Highlight), QColor(0x7c, 0x3a, 0xed));
    EXPECT_TRUE(panel->styleSheet().contains(QStringLiteral("#7c3aed")));

    defaults.setString(QStringLiteral("accent"), QStringLiteral("no colour"));
    EXPECT_EQ(panel->statusDot()->color(), QColor(0x0c, 0x94, 0x88));
}

TEST_F(DesktopPanelTest, SchemeFollowsTheAppearanceKeyAtOnce)
{
    ASSERT_FALSE(isDark(*panel)); // the offscreen desktop is light
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("dark"));
    EXPECT_TRUE(isDark(*panel));
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("light"));
    EXPECT_FALSE(isDark(*panel));
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("dark"));
    defaults.setString(QStringLiteral("appearance"), QStringLiteral("sepia"));
    EXPECT_FALSE(isDark(*panel));
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
