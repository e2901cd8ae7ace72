#include "Alert.h"

#include "support/Messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

// The launcher's command tests run it without a display, where it must not wait
// for a window nobody sees; here a shown box is read and dismissed (whatever
// window shows is closed, so a wrong kind fails instead of waiting forever).
TEST(AlertTest, MessageBoxShowsTitleAndDetailAndReturnsWhenDismissed)
{
    QString text, detail;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            detail = box->informativeText();
        }
        QApplication::closeAllWindows();
    });
    tellwire::showAlert(tellwire::testing::msg::kNotInstalled, tellwire::testing::msg::kReinstall, true);
    EXPECT_EQ(text, tellwire::testing::msg::kNotInstalled);
    EXPECT_EQ(detail, tellwire::testing::msg::kReinstall);
}
