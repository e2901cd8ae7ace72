// On a display the alert is a box, read and dismissed here (every window is closed, so a wrong kind fails instead
// of waiting forever); offscreen it is one line on standard error (InstalledTellwireTest).
#include "Alert.h"
#include "support/Messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace msg = tellwire::testing::msg;

TEST(AlertTest, MessageBoxShowsTitleAndDetailAndReturnsWhenDismissed)
{
    std::pair<QString, QString> shown; // title, detail
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            shown = {box->text(), box->informativeText()};
        QApplication::closeAllWindows();
    });
    tellwire::showAlert(msg::kNotInstalled, msg::kReinstall, true);
    EXPECT_EQ(shown, std::pair(QString(msg::kNotInstalled), QString(msg::kReinstall)));
}
