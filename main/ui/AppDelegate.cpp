#include "ui/AppDelegate.h"

#include "model/DesktopState.h"
#include "relayclient/RelayClient.h"
#include "ui/DesktopPanel.h"
#include "ui/DesktopSettings.h"
#include "ui/GlyphIcon.h"
#include "ui/Theme.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

namespace tellwire {

const QString AppDelegate::kBusPath = QStringLiteral("/cc/orrisfeld/tellwire");
const QString AppDelegate::kBusInterface = QStringLiteral("cc.orrisfeld.tellwire.Notifications");
const QString AppDelegate::kBusMember = QStringLiteral("Posted");
const QString AppDelegate::kShowSettings = QStringLiteral("cc.orrisfeld.tellwire.show-settings");
const QString AppDelegate::kTrayHostService = QStringLiteral("org.kde.StatusNotifierWatcher");

namespace {

void centerOnScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

// Shown again even if the user minimised it in the meantime.
void bringForward(QWidget* window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
}

} // namespace

AppDelegate::AppDelegate(DesktopState& state, RelayClient& relay, QObject* parent)
    : QObject(parent)
    , state_(state)
    , relay_(relay)
    , appearance_(state.defaults())
{
    idlePanel_.setSingleShot(true);
    connect(&idlePanel_, &QTimer::timeout, this, [this] {
        if (!relay_.router().active() && !(settings_ && settings_->isVisible()))
            showPanel();
    });
}

AppDelegate::~AppDelegate()
{
    if (listening_) {
        QDBusConnection::sessionBus().disconnect(QString(), kBusPath, kBusInterface, kBusMember,
                                                 this, SLOT(notificationPosted(QString)));
    }
    if (state_.shell() == this)
        state_.setShell(nullptr);
}

void AppDelegate::launch()
{
    // An input method keeps running with all its windows closed.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    listening_ = QDBusConnection::sessionBus().connect(QString(), kBusPath, kBusInterface,
                                                       kBusMember, this,
                                                       SLOT(notificationPosted(QString)));
    buildMenu();
    // A tray host may start after us (a session's shell, an extension turned on).
    auto* trayHost = new QDBusServiceWatcher(kTrayHostService, QDBusConnection::sessionBus(),
                                             QDBusServiceWatcher::WatchForRegistration, this);
    connect(trayHost, &QDBusServiceWatcher::serviceRegistered, this, &AppDelegate::buildTrayIcon);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        buildTrayIcon();
    buildPanel();
    state_.setShell(this);
    relay_.signIn().prepare();
    showPanelIfIdle();
}

void AppDelegate::buildMenu()
{
    menu_ = std::make_unique<QMenu>();
    menu_->addAction(QStringLiteral("显示语音记录"), this, &AppDelegate::showPanel);
    menu_->addAction(QStringLiteral("设置与连接"), this, &AppDelegate::showSettings);
    menu_->addAction(QStringLiteral("中英文切换 ⇧空格"), this, &AppDelegate::toggleLanguage);
}

void AppDelegate::buildTrayIcon()
{
    if (tray_)
        return; // one icon, however often a host comes and goes
    tray_ = new QSystemTrayIcon(this);
    tray_->setToolTip(QStringLiteral("语"));
    tray_->setContextMenu(menu_.get());
    // Trays that tell a plain click from a menu request show the panel on a click.
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            showPanel();
    });
    connect(&appearance_, &Appearance::accentChanged, this, &AppDelegate::renderTrayIcon);
    renderTrayIcon();
    tray_->show();
}

void AppDelegate::renderTrayIcon()
{
    tray_->setIcon(glyphIcon(QStringLiteral("语"), toQColor(appearance_.accentColor())));
}

void AppDelegate::buildPanel()
{
    panel_ = std::make_unique<DesktopPanel>(state_);
    panel_->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
                           | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    panel_->setAttribute(Qt::WA_ShowWithoutActivating);
    panel_->setWindowTitle(QStringLiteral("语音记录"));
    panel_->setFixedSize(kPanelWidth, kPanelHeight);
    centerOnScreen(panel_.get());
}

void AppDelegate::showPanel()
{
    if (panel_)
        bringForward(panel_.get());
}

void AppDelegate::hidePanel()
{
    idlePanel_.stop();
    if (panel_)
        panel_->hide();
}

void AppDelegate::showPanelIfIdle()
{
    idlePanel_.start(kIdlePanelDelay);
}

void AppDelegate::showSettings()
{
    if (!settings_) {
        settings_ = std::make_unique<DesktopSettings>(state_, relay_.signIn(), relay_.pairing());
        settings_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        settings_->setWindowTitle(QStringLiteral("语音输入设置"));
        settings_->setFixedSize(kSettingsWidth, kSettingsHeight);
        centerOnScreen(settings_.get());
    }
    bringForward(settings_.get());
    settings_->activateWindow();
}

void AppDelegate::toggleLanguage()
{
    state_.setChinese(!state_.chinese());
}

void AppDelegate::notificationPosted(const QString& name)
{
    if (name == kShowSettings)
        showSettings();
}

} // namespace tellwire
