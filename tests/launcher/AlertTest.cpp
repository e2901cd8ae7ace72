#include "Alert.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gmock/gmock.h>

namespace {

// The launcher's own tests run it offscreen, where it must not wait for a
// window nobody sees; here a shown box is read and dismissed.
TEST(AlertTest, MessageBoxShowsTitleAndDetailAndReturnsWhenDismissed)
{
    QString text;
    QString detail;
    // Dismisses whatever is shown, so that a wrong kind of window fails the
    // test instead of waiting for a user forever.
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            detail = box->informativeText();
        }
        QApplication::closeAllWindows();
    });

    tellwire::showAlert("语音输入组件未安装", "请重新运行 Tellwire 安装包。", true);

    EXPECT_EQ(text, "语音输入组件未安装");
    EXPECT_EQ(detail, "请重新运行 Tellwire 安装包。");
}

} // namespace
