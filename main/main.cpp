// The Tellwire process: the input-method server on IBus, the relay client and
// the desktop windows, all on the one main thread.

// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <gio/gio.h>

#include "fcitx/FcitxHost.h"
#include "ibus/InputMethodServer.h"
#include "model/DesktopState.h"
#include "relayclient/RelayClient.h"
#include "secretservice/Vault.h"
#include "settingsfile/SettingsDefaults.h"
#include "ui/AppDelegate.h"
#include "ui/QtClipboard.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QIcon>
#include <QTimer>

#include <cstdio>

namespace {

const QString kBusName = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");

// The process belongs to its login session: when the session bus goes, so
// does Tellwire, instead of living on orphaned.
void quitWithSessionBus()
{
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return;
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    g_signal_connect(bus, "closed", G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer) {
                         QCoreApplication::quit();
                     }),
                     nullptr);
}

// One instance per session: false when another process owns the name.
bool claimSessionName()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return true; // no session bus: nothing to share the session with
    const auto reply = bus.interface()->registerService(kBusName, QDBusConnectionInterface::DontQueueService,
                                                       QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

// Qt on Wayland cannot keep the panel on top, keep it from taking the focus or
// place a window; as a client of XWayland it can. A platform the user chose stands.
void preferXWayland()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace

int main(int argc, char** argv)
{
    // Our own windows must never send their keys through our own engine.
    qputenv("QT_IM_MODULE", "none");
    preferXWayland();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tellwire"));
    // Docks and window lists match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tellwire-desktop"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tellwire")));
    app.setQuitOnLastWindowClosed(false);
    // The daemon starts the engine with --ibus; nothing else is read.
    const bool startedByDaemon = app.arguments().contains(QStringLiteral("--ibus"));

    if (!claimSessionName())
        return 0;
    quitWithSessionBus();

    // The model, made from the Secret Service and the settings file; like the
    // model, they are never destroyed.
    tellwire::DesktopState::provide({new tellwire::Vault, new tellwire::SettingsDefaults, new tellwire::QtClipboard});
    tellwire::DesktopState& state = tellwire::DesktopState::shared();
    tellwire::RelayClient relay(state);

    // The windows exist before the first input session; they are built, and
    // the sign-in check starts, from inside the event loop.
    tellwire::AppDelegate delegate(state, relay);
    QTimer::singleShot(0, &delegate, &tellwire::AppDelegate::launch);

    tellwire::InputMethodServer server(state, relay.router(), &delegate);
    if (tellwire::InputMethodServer::eventLoopIsGlib())
        server.start(startedByDaemon);
    else
        std::fputs("Tellwire: Qt does not run on the GLib event loop (QT_NO_GLIB?); "
                   "no input method is served\n", stderr);
    // fcitx5 runs Tellwire through its addon, whichever framework the desktop has.
    tellwire::FcitxHost fcitxHost(state, relay.router(), &delegate);
    fcitxHost.start();

    return app.exec();
}
