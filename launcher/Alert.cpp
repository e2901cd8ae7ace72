#include "Alert.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace tellwire {

void showAlert(const QString& title, const QString& detail, bool onScreen)
{
    std::fputs((title + QStringLiteral("：") + detail + u'\n').toUtf8().constData(), stderr);
    std::fflush(stderr);
    if (!onScreen)
        return;
    QMessageBox box;
    box.setText(title);
    box.setInformativeText(detail);
    box.exec();
}

bool displayIsVisible()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace tellwire
