#pragma once

#include "app/AppServices.h"
#include "app/IncomingLinks.h"
#include "app/MenuBarManager.h"
#include "platform/AccessibilityPort.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QQmlApplicationEngine;
#include <QQuickWindow>

namespace quillmoss {

class PackageManagerUpdater;
class QuitGuard;
class QuitSignals;
class SingleInstance;
class SystemTray;
class UiContext;
class WindowTaskbar;

// The program's composition root: the desktop adapters, the managers in
// start-up order, the status item, the one main window, and the paths by
// which the program is asked to quit or to come forward.
class Shell final : public QObject {
    Q_OBJECT
public:
    Shell(SingleInstance &instance, QuitSignals &quitSignals, QObject *parent = nullptr);
    ~Shell() override;

    // Builds everything and shows the window. `arguments` are the program's
    // own (without its name). False when the window cannot be created.
    bool start(const QStringList &arguments);

    QQuickWindow *window() const { return m_window; }
    AppServices &services() { return *m_services; }
    MenuBarManager &menuBar() { return *m_menuBar; }
    IncomingLinks &incomingLinks() { return m_links; }
    QuitGuard &quitGuard() { return *m_quitGuard; }
    // Shows the window, restores it when minimised and brings it to the front.
    void activateWindow();

private:
    void ensureWindowSize();

    SingleInstance &m_instance;
    QuitSignals &m_signals;
    IncomingLinks m_links;
    std::unique_ptr<PreferencesStore> m_preferences;
    std::unique_ptr<PreferencesStore> m_groupPreferences;
    std::unique_ptr<WorkspacePort> m_workspace;
    std::unique_ptr<BrowserTabPort> m_browsers;
    std::unique_ptr<NotificationPort> m_notifications;
    std::unique_ptr<SoundPort> m_sounds;
    std::unique_ptr<IdleInhibitPort> m_idleInhibit;
    std::unique_ptr<AccessibilityPort> m_accessibility;
    std::unique_ptr<PeerTransport> m_transport;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<SystemTray> m_tray;
    std::unique_ptr<PackageManagerUpdater> m_updater;
    std::unique_ptr<WindowTaskbar> m_taskbar;
    std::unique_ptr<MenuBarManager> m_menuBar;
    std::unique_ptr<QuitGuard> m_quitGuard;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<UiContext> m_ui;
    QPointer<QQuickWindow> m_window;
};

} // namespace quillmoss
