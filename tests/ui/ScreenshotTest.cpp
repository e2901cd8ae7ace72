#include "ui/AppDelegate.h"

#include "ui/DesktopPanel.h"
#include "ui/DesktopSettings.h"
#include "WidgetTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>

// Writes what the two windows look like, light and dark, with real Chinese
// text, to build/screenshots for people to look at.
namespace tellwire {
namespace {

using testing::finalTranscript;

double meanLightness(const QImage& image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            sum += image.pixelColor(x, y).lightnessF();
    }
    return sum / (image.width() * image.height());
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
    QScrollArea* form = settings->findChild<QScrollArea*>();
    for (const QString scheme : {"light", "dark"}) {
        defaults.setString(QStringLiteral("appearance"), scheme);
        form->ensureWidgetVisible(settings->phoneField());
        QCoreApplication::processEvents();
        const QImage panel = delegate.panel()->grab().toImage();
        const QImage top = settings->grab().toImage();
        // Scrolled to its end, the form shows the appearance and error rows.
        form->ensureWidgetVisible(settings->errorLabel());
        QCoreApplication::processEvents();
        const QImage end = settings->grab().toImage();
        EXPECT_TRUE(panel.save(folder + "/panel-" + scheme + ".png"));
        EXPECT_TRUE(top.save(folder + "/settings-" + scheme + ".png"));
        EXPECT_TRUE(end.save(folder + "/settings-end-" + scheme + ".png"));

        EXPECT_EQ(panel.size(), QSize(530, 300));
        EXPECT_EQ(top.size(), QSize(500, 590));
        const bool dark = scheme == "dark";
        for (const QImage* shot : {&panel, &top})
            EXPECT_TRUE(dark ? meanLightness(*shot) < 0.35 : meanLightness(*shot) > 0.75) << scheme.toStdString();
    }
}

} // namespace
} // namespace tellwire
