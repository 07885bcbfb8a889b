#pragma once

#include "app/AppSettings.h"
#include "app/TrayPort.h"
#include "app/UpdaterPort.h"
#include "platform/Clock.h"
#include "platform/IdleInhibitPort.h"
#include "session/FocusManager.h"

#include <QObject>

#include <memory>

namespace quillmoss {

// The status item: while a session runs it shows the time left in the current
// block with an icon telling study from break, and it keeps the display
// awake. It refreshes once a second and after every change of the engine,
// the settings or the connected peers.
class MenuBarManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY displayChanged)
    Q_PROPERTY(bool isItemShown READ isItemShown NOTIFY displayChanged)
public:
    struct Collaborators {
        Clock &clock;
        FocusManager &focus;
        AppSettings &settings;
        IdleInhibitPort &idleInhibit;
        TrayPort &tray;
        UpdaterPort &updater;
        TaskbarPort *taskbar = nullptr; // absent where the window has no taskbar entry to manage
    };

    static inline const QString kInhibitReason = QStringLiteral("quillmoss Focus Session");

    explicit MenuBarManager(Collaborators collaborators, QObject *parent = nullptr);
    ~MenuBarManager() override;

    static MenuBarManager *shared();
    static void setShared(MenuBarManager *instance);

    // Start-up, in this order: setupObservers(), startTimer(), updateStatusItem(),
    // then applyDockIconPolicy() queued on the main queue.
    void setupObservers();
    void startTimer();
    void updateStatusItem();
    void applyDockIconPolicy();

    // The peer layer reports how many devices are connected (none until it exists).
    void setConnectedPeerCount(int count);
    int connectedPeerCount() const { return m_connectedPeers; }

    // What the item shows at this moment (computed whether or not it is shown).
    StatusDisplay currentDisplay() const;
    // The display of the last refresh.
    const StatusDisplay &display() const { return m_display; }
    QString title() const { return m_display.title; }
    bool isItemShown() const { return m_tray.exists(); }
    bool shouldShowItem() const;

    // The menu's actions.
    void openApp() { emit openAppRequested(); }
    void checkForUpdates() { m_updater.checkForUpdates(); }
    void quitApp() { emit quitRequested(); }

signals:
    void displayChanged();
    void openAppRequested();
    // A quit request; it goes through the quit guard.
    void quitRequested();

private:
    void queueUpdate();
    void updatePowerAssertion(bool focusing);
    void publish(const StatusDisplay &display);

    Clock &m_clock;
    FocusManager &m_focus;
    AppSettings &m_settings;
    IdleInhibitPort &m_idle;
    TrayPort &m_tray;
    UpdaterPort &m_updater;
    TaskbarPort *m_taskbar;

    std::unique_ptr<ClockTimer> m_timer;
    bool m_observing = false;
    bool m_holdWanted = false;
    bool m_creationQueued = false;
    bool m_noHostReported = false;
    int m_connectedPeers = 0;
    StatusDisplay m_display;
};

} // namespace quillmoss
