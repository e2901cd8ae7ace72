#pragma once

#include "model/AppShell.h"
#include "preferences/Appearance.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

class QMenu;
class QAction;
class QSystemTrayIcon;
class QWidget;

namespace tellwire {

class DesktopPanel;
class DesktopSettings;
class DesktopState;
class RelayClient;

// The desktop side of the application: the tray icon and its menu, the
// floating transcript panel and the settings window, and the show-settings
// request other programs broadcast on the session bus.
class AppDelegate : public QObject, public AppShell {
    Q_OBJECT
public:
    static constexpr int kPanelWidth = 530;
    static constexpr int kPanelHeight = 300;
    static constexpr int kSettingsWidth = 500;
    static constexpr int kSettingsHeight = 590;

    static const QString kBusPath;
    static const QString kBusInterface;
    static const QString kBusMember;
    static const QString kShowSettings;
    // The session-bus name of the StatusNotifierItem watcher, which tray hosts
    // (KDE's, a GNOME extension's) provide.
    static const QString kTrayHostService;
    // How long the focus must stay away from every field before the panel
    // shows: moving between two fields passes through "no field".
    static constexpr std::chrono::milliseconds kIdlePanelDelay{250};

    AppDelegate(DesktopState& state, RelayClient& relay, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Builds the menu, the tray icon (where the desktop has a tray, or once a
    // tray host appears) and the panel, starts the sign-in check and shows
    // the panel if no input session
    // has focus. Call once, with the event loop about to run.
    void launch();

    // Shows the panel without taking the keyboard from anyone.
    void showPanel() override;
    void hidePanel() override;
    // After kIdlePanelDelay, if no field has taken the focus meanwhile and the
    // settings window is not open (the panel would cover it).
    void showPanelIfIdle() override;
    // Brings the settings window to the front and gives it the keyboard,
    // creating it on first use.
    void showSettings() override;
    // Switches Chinese/English; the focused session finishes its composition.
    void toggleLanguage();

    DesktopPanel* panel() const { return panel_.get(); }
    DesktopSettings* settings() const { return settings_.get(); }
    QMenu* menu() const { return menu_.get(); }
    // Null where the desktop has no tray (yet).
    QSystemTrayIcon* trayIcon() const { return tray_; }

private slots:
    void notificationPosted(const QString& name);

private:
    void buildMenu();
    void buildTrayIcon();
    void buildPanel();
    void renderTrayIcon();

    DesktopState& state_;
    RelayClient& relay_;
    Appearance appearance_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<DesktopPanel> panel_;
    std::unique_ptr<DesktopSettings> settings_;
    QTimer idlePanel_;
    bool listening_ = false;
};

} // namespace tellwire
