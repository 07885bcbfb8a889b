#pragma once

#include "app/AppSettings.h"
#include "devices/DeviceIDManager.h"
#include "devices/MultipeerManager.h"
#include "devices/PeerRelay.h"
#include "platform/BrowserTabPort.h"
#include "platform/Clock.h"
#include "platform/IdleInhibitPort.h"
#include "platform/NotificationPort.h"
#include "platform/PreferencesStore.h"
#include "platform/SoundPort.h"
#include "platform/WorkspacePort.h"
#include "session/BlockingEnforcer.h"
#include "session/FocusManager.h"
#include "stats/AnalyticsManager.h"
#include "unlock/EmergencyUnlockManager.h"

#include <QObject>

#include <functional>
#include <memory>

namespace quillmoss {

// What the system provides: the app passes the Linux adapters, tests pass
// fakes and a manual clock.
struct PlatformPorts {
    Clock &clock;
    PreferencesStore &preferences;
    PreferencesStore *groupPreferences; // the "group.quillmoss" suite, may be absent
    WorkspacePort &workspace;
    BrowserTabPort &browsers;
    NotificationPort &notifications;
    SoundPort &sounds;
    IdleInhibitPort &idleInhibit;
    std::function<QString()> computerName;
    // Discovery and delivery between installations; without one there are
    // no linked devices.
    PeerTransport *peerTransport = nullptr;
    AccessibilityPort *accessibility = nullptr;
};

// The composition root of the long-lived managers, created in start-up order.
// Exactly one exists in the app; its managers are what X::shared() returns.
class AppServices final : public QObject {
    Q_OBJECT
public:
    explicit AppServices(PlatformPorts ports, QObject *parent = nullptr);
    ~AppServices() override;

    // Makes these managers the ones X::shared() returns.
    void makeShared();

    PlatformPorts &ports() { return m_ports; }
    AppSettings &settings() { return *m_settings; }
    DeviceIDManager &deviceIds() { return *m_deviceIds; }
    AnalyticsManager &statistics() { return *m_statistics; }
    FocusManager &focus() { return *m_focus; }
    BlockingEnforcer &enforcer() { return *m_enforcer; }
    EmergencyUnlockManager &unlock() { return *m_unlock; }
    // The peer manager, when the platform gave a peer transport.
    MultipeerManager *multipeer() { return m_multipeer.get(); }
    // The engine's and the unlock's way to the peers; the peer manager sets
    // itself as the target when it exists.
    PeerRelay &peers() { return m_peerRelay; }

    // The builder tells lobby guests whether a session is being set up.
    Q_INVOKABLE void sendSetupStatus(bool isSettingUp);
    // "Add All Open Apps": the given allow-list with every open app appended.
    Q_INVOKABLE QStringList withAllOpenApps(const QStringList &allowed);

private:
    PlatformPorts m_ports;
    PeerRelay m_peerRelay;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<DeviceIDManager> m_deviceIds;
    std::unique_ptr<AnalyticsManager> m_statistics;
    std::unique_ptr<BlockingEnforcer> m_enforcer;
    std::unique_ptr<FocusManager> m_focus;
    std::unique_ptr<EmergencyUnlockManager> m_unlock;
    std::unique_ptr<MultipeerManager> m_multipeer;
};

} // namespace quillmoss
