#include "Shell.h"

#include "PackageManagerUpdater.h"
#include "QuitGuard.h"
#include "QuitSignals.h"
#include "SingleInstance.h"
#include "SystemTray.h"
#include "UiContext.h"
#include "WindowTaskbar.h"

#include "CanberraSounds.h"
#include "DBusNotifications.h"
#include "ScreenSaverInhibitor.h"
#include "AccessibilitySwitch.h"
#include "AtspiBrowserTabs.h"
#include "PeerIdentity.h"
#include "TlsPeerTransport.h"
#include "X11Workspace.h"
#include "devices/ComputerName.h"
#include "platform/Console.h"
#include "platform/UnavailableWorkspace.h"

#include <QApplication>
#include <QDBusConnection>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QScreen>

namespace quillmoss {

namespace {
constexpr int kMinimumWidth = 400;
constexpr int kMinimumHeight = 750;
} // namespace

Shell::Shell(SingleInstance &instance, QuitSignals &quitSignals, QObject *parent)
    : QObject(parent), m_instance(instance), m_signals(quitSignals) {}

Shell::~Shell() {
    // The screens go first: their bindings reach into every manager.
    m_engine.reset();
    m_ui.reset();
    m_quitGuard.reset();
    m_menuBar.reset();
    m_services.reset();
}

bool Shell::start(const QStringList &arguments) {
    // Desktop adapters. Services that are missing (no session bus, no sound
    // device, no window manager) each say so once on the console and leave
    // the rest of the program working.
    m_preferences = PreferencesStore::openFile(PreferencesStore::standardFilePath());
    m_groupPreferences = PreferencesStore::openFile(PreferencesStore::groupFilePath());
    const QDBusConnection bus = QDBusConnection::sessionBus();
    m_notifications = std::make_unique<DBusNotifications>(bus);
    m_sounds = std::make_unique<CanberraSounds>();
    m_idleInhibit = std::make_unique<ScreenSaverInhibitor>(bus);
    // The desktop's accessibility switch: the access onboarding asks for.
    m_accessibility = std::make_unique<AccessibilitySwitch>();
    // Other applications' windows can be seen and hidden through an X11
    // display only (on Wayland: the XWayland ones), and the browsers' tabs
    // are closed with its help. The adapters report a missing window manager
    // or accessibility bus themselves, and notice one that comes later.
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        m_workspace = std::make_unique<X11Workspace>();
        m_browsers = std::make_unique<AtspiBrowserTabs>();
    } else {
        m_workspace = std::make_unique<UnavailableWorkspace>();
        m_browsers = std::make_unique<NoBrowserTabs>();
        consoleLine(QStringLiteral("Windows of other applications cannot be hidden on this desktop (no X11 display)"));
    }

    // Linked devices find each other through avahi-daemon and talk over TLS.
    // The identity (key, certificate, the display name it was made with) is
    // kept under "MultipeerPeerID"; without a system bus the transport says so
    // once and keeps trying in the background.
    const QString computerName = systemComputerName();
    m_transport = std::make_unique<TlsPeerTransport>(
        PeerIdentity::restore(*m_preferences, computerName.isEmpty() ? QStringLiteral("Mac") : computerName),
        SystemClock::instance());

    // The managers, in start-up order: settings, device identity, statistics
    // (with its start-up), enforcement, the engine (which restores a running
    // session), the emergency unlock.
    m_services = std::make_unique<AppServices>(PlatformPorts{SystemClock::instance(), *m_preferences,
                                                             m_groupPreferences.get(), *m_workspace, *m_browsers,
                                                             *m_notifications, *m_sounds, *m_idleInhibit, {},
                                                             m_transport.get(), m_accessibility.get()});
    m_services->makeShared();
    FocusManager &focus = m_services->focus();

    // The status item and the quit guard.
    m_tray = std::make_unique<SystemTray>();
    m_updater = std::make_unique<PackageManagerUpdater>();
    m_taskbar = std::make_unique<WindowTaskbar>();
    m_menuBar = std::make_unique<MenuBarManager>(MenuBarManager::Collaborators{
        SystemClock::instance(), focus, m_services->settings(), *m_idleInhibit, *m_tray, *m_updater,
        m_taskbar.get()});
    MenuBarManager::setShared(m_menuBar.get());
    m_quitGuard = std::make_unique<QuitGuard>(focus);
    connect(m_tray.get(), &SystemTray::openChosen, m_menuBar.get(), &MenuBarManager::openApp);
    connect(m_tray.get(), &SystemTray::checkForUpdatesChosen, m_menuBar.get(), &MenuBarManager::checkForUpdates);
    connect(m_tray.get(), &SystemTray::quitChosen, m_menuBar.get(), &MenuBarManager::quitApp);
    connect(m_menuBar.get(), &MenuBarManager::openAppRequested, this, &Shell::activateWindow);
    connect(m_menuBar.get(), &MenuBarManager::quitRequested, m_quitGuard.get(), &QuitGuard::requestQuit);
    connect(m_quitGuard.get(), &QuitGuard::quitApproved, qApp, [] { QCoreApplication::exit(0); });
    m_quitGuard->watchSessionManager();
    connect(&m_signals, &QuitSignals::quitRequested, m_quitGuard.get(), &QuitGuard::requestQuit);

    // Linked devices, where the platform gave a peer transport: they act on
    // incoming links, and a connected one may hide the status item.
    if (MultipeerManager *peers = m_services->multipeer()) {
        connect(&m_links, &IncomingLinks::linkReceived, peers, [peers](const QString &link) {
            if (!peers->handleIncomingLink(link)) consoleLine(QStringLiteral("Link ignored, not a code this device can use"));
        });
        connect(peers, &MultipeerManager::connectedPeersChanged, m_menuBar.get(),
                [this, peers] { m_menuBar->setConnectedPeerCount(peers->connectedPeerCount()); });
        m_menuBar->setConnectedPeerCount(peers->connectedPeerCount());
    }
    m_menuBar->setupObservers();
    m_menuBar->startTimer();
    m_menuBar->updateStatusItem();
    postToMainQueue(m_menuBar.get(), [this] { m_menuBar->applyDockIconPolicy(); });

    // The window: onboarding or the home screen, chosen by Main.qml.
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->addImportPath(QStringLiteral("qrc:/"));
    m_ui = std::make_unique<UiContext>(*m_engine, *m_services);
    m_engine->load(QUrl(QStringLiteral("qrc:/Quillmoss/Main.qml")));
    const QList<QObject *> roots = m_engine->rootObjects();
    m_window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (!m_window) {
        consoleLine(QStringLiteral("The main window could not be created"));
        return false;
    }
    m_taskbar->setWindow(m_window);
    m_quitGuard->watchWindow(m_window);
    // The time left also goes into the window title: many desktops have no
    // tray, and the title shows in the taskbar and the window switcher.
    auto showTitle = [this] {
        if (m_window) m_window->setTitle(QStringLiteral("quillmoss") + m_menuBar->title());
    };
    connect(m_menuBar.get(), &MenuBarManager::displayChanged, m_window, showTitle);
    showTitle();
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) m_services->statistics().syncRestrictedAttempts();
    });
    postToMainQueue(this, [this] { ensureWindowSize(); });

    // Later launches hand over their arguments and bring this window forward.
    connect(&m_instance, &SingleInstance::argumentsReceived, this, [this](const QStringList &handed) {
        activateWindow();
        m_links.handleArguments(handed);
    });
    postToMainQueue(this, [this, arguments] { m_links.handleArguments(arguments); });
    return true;
}

void Shell::ensureWindowSize() {
    if (!m_window) return;
    if (m_window->width() >= kMinimumWidth && m_window->height() >= kMinimumHeight) return;
    m_window->resize(kMinimumWidth, kMinimumHeight);
    if (QScreen *screen = m_window->screen()) {
        const QRect area = screen->availableGeometry();
        m_window->setPosition(area.center() - QPoint(kMinimumWidth / 2, kMinimumHeight / 2));
    }
}

void Shell::activateWindow() {
    if (!m_window) return;
    if (m_window->windowStates() & Qt::WindowMinimized)
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

} // namespace quillmoss
