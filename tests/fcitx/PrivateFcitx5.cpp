#include "fcitx/PrivateFcitx5.h"

#include "support/Wait.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tellwire::testing {

using namespace std::chrono_literals;

namespace {
const QString kFcitx5 = QStringLiteral("org.fcitx.Fcitx5");
} // namespace

PrivateFcitx5::~PrivateFcitx5() { stop(); }

QString PrivateFcitx5::profilePath() { return qEnvironmentVariable("XDG_CONFIG_HOME") + "/fcitx5/profile"; }

bool PrivateFcitx5::writeProfile(const QByteArray& text)
{
    QFile file(profilePath());
    return QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QStringList PrivateFcitx5::currentGroup()
{
    // Plain messages: an interface object keeps what it introspected until the process ends.
    const auto call = [](const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(kFcitx5, QStringLiteral("/controller"),
                                                              QStringLiteral("org.fcitx.Fcitx.Controller1"), method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message);
    };
    const QDBusMessage info = call(QStringLiteral("InputMethodGroupInfo"),
                                   {call(QStringLiteral("CurrentInputMethodGroup")).arguments().value(0)});
    QStringList names;
    const QDBusArgument items = info.arguments().value(1).value<QDBusArgument>();
    items.beginArray();
    while (!items.atEnd()) {
        QString name, layout;
        items.beginStructure();
        items >> name >> layout;
        items.endStructure();
        names << name;
    }
    items.endArray();
    return names;
}

bool PrivateFcitx5::start(const QProcessEnvironment& extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    environment.insert(QStringLiteral("FCITX_ADDON_DIRS"),
                       QStringLiteral(TELLWIRE_FCITX5_ADDON_DIR ":" TELLWIRE_SYSTEM_FCITX5_ADDON_DIR));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral(TELLWIRE_DATA_DIR ":/usr/share"));
    environment.insert(QStringLiteral("TELLWIRE_EXECUTABLE"), QStringLiteral(TELLWIRE_EXECUTABLE));
    fcitx_.setProcessEnvironment(environment);
    fcitx_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Without the frontends and panels a test on Xvfb has no use for.
    fcitx_.start(QStringLiteral("fcitx5"),
                 {"--disable=wayland,waylandim,kimpanel,notifications,clipboard,"
                  "quickphrase,unicode,luaaddonloader,fcitx4frontend,ibusfrontend,xim,imeapi,pinyinhelper"});
    return waitUntil([] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(kFcitx5).value(); },
                     30s);
}

void PrivateFcitx5::stop()
{
    if (fcitx_.state() == QProcess::NotRunning)
        return;
    fcitx_.terminate();
    fcitx_.waitForFinished();
}

} // namespace tellwire::testing
