#include "ui/AppDelegate.h"

#include "ui/DesktopPanel.h"
#include "ui/DesktopSettings.h"
#include "WidgetTestSupport.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QTest>

// Writes what the two windows look like, light and dark, with real Chinese
// text, to build/screenshots for people to look at.
namespace tellwire {
namespace {

using testing::finalTranscript;

double meanLightness(const QImage& image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4)
            sum += image.pixelColor(x, y).lightnessF();
    }
    return sum / ((image.height() + 3) / 4 * ((image.width() + 3) / 4));
}

class ScreenshotTest : public testing::ModelTest {};

TEST_F(ScreenshotTest, WritesBothWindowsInBothSchemes)
{
    AppDelegate delegate(*state);
    delegate.launch();
    state->setStatus(QStringLiteral("正在接收手机文字"));
    state->addToHistory(finalTranscript("1", QStringLiteral("明天上午十点在三楼会议室开项目周会。")));
    state->addToHistory(finalTranscript("2", QStringLiteral("请把上周的测试报告和发布计划一起发给我。")));
    state->addToHistory(finalTranscript("3", QStringLiteral("好的，收到，我会在下班前整理完。")));
    delegate.showSettings();
    DesktopSettings* settings = delegate.settings();
    settings->phoneField()->setText(QStringLiteral("13800138000"));
    settings->codeField()->setText(QStringLiteral("482913"));
    state->setError(QStringLiteral("验证码错误、已过期或登录已失效"));

    const QString folder = QStringLiteral(TELLWIRE_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    QHash<QString, QImage> shots;
    for (const QString& scheme : {QStringLiteral("light"), QStringLiteral("dark")}) {
        defaults.setString(QStringLiteral("appearance"), scheme);
        QCoreApplication::processEvents();
        shots.insert("panel-" + scheme, delegate.panel()->grab().toImage());
        shots.insert("settings-" + scheme, settings->grab().toImage());
    }
    // The settings form scrolled to its end shows the appearance and error rows.
    for (const QString& scheme : {QStringLiteral("light"), QStringLiteral("dark")}) {
        defaults.setString(QStringLiteral("appearance"), scheme);
        defaults.setString(QStringLiteral("accent"), QStringLiteral("#7c3aed"));
        settings->findChild<QScrollArea*>()->ensureWidgetVisible(settings->errorLabel());
        QCoreApplication::processEvents();
        shots.insert("settings-end-" + scheme, settings->grab().toImage());
        shots.insert("panel-violet-" + scheme, delegate.panel()->grab().toImage());
    }
    for (auto it = shots.cbegin(); it != shots.cend(); ++it) {
        const QString path = folder + "/" + it.key() + ".png";
        EXPECT_TRUE(it.value().save(path)) << path.toStdString();
    }
    EXPECT_EQ(shots.value("panel-light").size(), QSize(530, 300));
    EXPECT_EQ(shots.value("settings-light").size(), QSize(500, 590));
    EXPECT_LT(meanLightness(shots.value("panel-dark")), 0.35);
    EXPECT_GT(meanLightness(shots.value("panel-light")), 0.75);
    EXPECT_LT(meanLightness(shots.value("settings-dark")), 0.35);
    EXPECT_GT(meanLightness(shots.value("settings-light")), 0.75);
}

} // namespace
} // namespace tellwire
