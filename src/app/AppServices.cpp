#include "app/AppServices.h"

#include "selection/OpenApps.h"

namespace quillmoss {

AppServices::AppServices(PlatformPorts ports, QObject *parent) : QObject(parent), m_ports(std::move(ports)) {
    m_settings = std::make_unique<AppSettings>(m_ports.preferences);
    m_deviceIds = m_ports.computerName ? std::make_unique<DeviceIDManager>(m_ports.preferences, m_ports.computerName)
                                       : std::make_unique<DeviceIDManager>(m_ports.preferences);
    m_statistics =
        std::make_unique<AnalyticsManager>(m_ports.preferences, m_ports.groupPreferences, m_ports.clock, *m_deviceIds);
    // Enforcement reads the engine's live selection at every check.
    m_enforcer = std::make_unique<BlockingEnforcer>(
        m_ports.workspace, m_ports.browsers, m_ports.notifications, m_ports.clock,
        [this] { return m_focus ? m_focus->selection() : MacActivitySelection::defaultSelection(); },
        [this](const QString &target, const QString &kind) { m_statistics->recordBlockedAttempt(target, kind); });
    m_focus = std::make_unique<FocusManager>(FocusManager::Collaborators{
        m_ports.preferences, m_ports.clock, *m_enforcer, m_ports.notifications, m_ports.sounds, *m_statistics,
        *m_deviceIds, &m_peerRelay, m_ports.accessibility});
    m_unlock = std::make_unique<EmergencyUnlockManager>(m_ports.preferences, m_ports.clock, m_peerRelay);
    // The peer manager needs the engine, the statistics and the unlock; they
    // reach it through the relay from now on.
    if (m_ports.peerTransport) {
        m_multipeer = std::make_unique<MultipeerManager>(MultipeerManager::Collaborators{
            m_ports.preferences, m_ports.clock, *m_ports.peerTransport, *m_focus, *m_statistics, *m_deviceIds,
            *m_unlock});
        m_peerRelay.setTarget(m_multipeer.get());
    }
    m_statistics->startUp();
}

AppServices::~AppServices() {
    // Enforcement off before the engine and the ports go away.
    m_enforcer->stopMonitoring();
    m_peerRelay.setTarget(nullptr);
    if (MultipeerManager::shared() == m_multipeer.get()) MultipeerManager::setShared(nullptr);
    m_multipeer.reset();
    if (FocusManager::shared() == m_focus.get()) FocusManager::setShared(nullptr);
    if (AnalyticsManager::shared() == m_statistics.get()) AnalyticsManager::setShared(nullptr);
    if (DeviceIDManager::shared() == m_deviceIds.get()) DeviceIDManager::setShared(nullptr);
    if (EmergencyUnlockManager::shared() == m_unlock.get()) EmergencyUnlockManager::setShared(nullptr);
}

void AppServices::makeShared() {
    DeviceIDManager::setShared(m_deviceIds.get());
    AnalyticsManager::setShared(m_statistics.get());
    FocusManager::setShared(m_focus.get());
    EmergencyUnlockManager::setShared(m_unlock.get());
    if (m_multipeer) MultipeerManager::setShared(m_multipeer.get());
}

void AppServices::sendSetupStatus(bool isSettingUp) { m_peerRelay.sendSetupStatus(isSettingUp); }

QStringList AppServices::withAllOpenApps(const QStringList &allowed) {
    return quillmoss::withAllOpenApps(allowed, m_ports.workspace.runningApplications());
}

} // namespace quillmoss
