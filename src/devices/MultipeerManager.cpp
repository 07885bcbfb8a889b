#include "devices/MultipeerManager.h"

#include "devices/DeviceIDManager.h"
#include "devices/PeerMessages.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/JsonDates.h"
#include "platform/PreferencesStore.h"
#include "session/FocusManager.h"
#include "stats/AnalyticsManager.h"
#include "unlock/EmergencyUnlockManager.h"

#include <QVariantMap>

namespace quillmoss {

namespace {
MultipeerManager *s_shared = nullptr;

using peer::MessageKind;
const QLatin1String kDeviceIdMember("deviceId");
} // namespace

MultipeerManager *MultipeerManager::shared() { return s_shared; }
void MultipeerManager::setShared(MultipeerManager *manager) { s_shared = manager; }

MultipeerManager::MultipeerManager(Collaborators c, QObject *parent)
    : QObject(parent), m_prefs(c.preferences), m_clock(c.clock), m_transport(c.transport), m_focus(c.focus),
      m_statistics(c.statistics), m_deviceIds(c.deviceIds), m_unlock(c.unlock) {
    qRegisterMetaType<PeerHandle>();
    qRegisterMetaType<PeerConnectionState>();
    loadTrustedDevices();
    loadPendingNameUpdates();
    loadPins();
    connect(&m_transport, &PeerTransport::peerFound, this, &MultipeerManager::onPeerFound);
    connect(&m_transport, &PeerTransport::peerLost, this, &MultipeerManager::onPeerLost);
    connect(&m_transport, &PeerTransport::invitationReceived, this, &MultipeerManager::onInvitationReceived);
    connect(&m_transport, &PeerTransport::peerStateChanged, this, &MultipeerManager::onPeerStateChanged);
    connect(&m_transport, &PeerTransport::dataReceived, this, &MultipeerManager::onDataReceived);
    connect(&m_deviceIds, &DeviceIDManager::deviceNameChanged, this, &MultipeerManager::deviceNameChanged);
    postToMainQueue(this, [this] {
        startBrowsing();
        startAdvertising();
    });
}

MultipeerManager::~MultipeerManager() {
    if (s_shared == this) s_shared = nullptr;
}

// ---- identity and lookups ----------------------------------------------------

QString MultipeerManager::deviceName() const { return m_deviceIds.deviceName(); }
QString MultipeerManager::deviceId() const { return m_deviceIds.deviceID(); }

std::optional<QString> MultipeerManager::deviceIdOf(const PeerHandle &peer) const {
    const auto it = m_peerIDToDeviceID.constFind(peer);
    if (it == m_peerIDToDeviceID.constEnd()) return std::nullopt;
    return *it;
}

std::optional<QByteArray> MultipeerManager::pinnedFingerprint(const QString &deviceId) const {
    const auto it = m_pins.constFind(deviceId);
    if (it == m_pins.constEnd()) return std::nullopt;
    return *it;
}

bool MultipeerManager::isTrusted(const QString &deviceId) const {
    return std::any_of(m_trustedDevices.cbegin(), m_trustedDevices.cend(),
                       [&](const TrustedDevice &d) { return d.deviceId == deviceId; });
}

QList<PeerHandle> MultipeerManager::peersOf(const QString &deviceId) const {
    QList<PeerHandle> peers;
    for (const PeerHandle &p : m_mappingOrder)
        if (m_peerIDToDeviceID.value(p) == deviceId) peers.append(p);
    return peers;
}

bool MultipeerManager::isDeviceConnected(const QString &deviceId) const {
    return std::any_of(m_connectedPeers.cbegin(), m_connectedPeers.cend(),
                       [&](const PeerHandle &p) { return deviceIdOf(p) == deviceId; });
}

std::optional<QString> MultipeerManager::storedUserName() const { return m_prefs.stringValue(kUserNameKey); }

// ---- advertising and browsing -------------------------------------------------

void MultipeerManager::startAdvertising() {
    if (m_advertising) return;
    m_advertising = true;
    m_transport.startAdvertising(kServiceType, {{QStringLiteral("deviceId"), deviceId()}});
}

void MultipeerManager::startBrowsing() {
    if (m_browsing) return;
    m_browsing = true;
    m_transport.startBrowsing(kServiceType);
}

void MultipeerManager::restartBrowsing() {
    if (m_browsing) m_transport.stopBrowsing();
    m_browsing = false;
    startBrowsing();
}

void MultipeerManager::inviteDevice(const QString &deviceId) {
    if (!m_browsing) return;
    const QList<PeerHandle> connected = m_transport.connectedPeers();
    for (const PeerHandle &p : peersOf(deviceId))
        if (!connected.contains(p)) m_transport.invite(p, kInvitationTimeoutMs);
}

void MultipeerManager::onPeerFound(const PeerHandle &peer, const QMap<QString, QString> &discoveryInfo) {
    if (!peer.isValid() || peer == m_transport.localPeer() || m_refusedPeers.contains(peer)) return;
    if (m_transport.connectedPeers().contains(peer)) return;
    const auto found = discoveryInfo.constFind(QStringLiteral("deviceId"));
    if (found == discoveryInfo.constEnd() || found->isEmpty() || found->size() > peer::kMaxIdLength) return;
    const QString id = *found;
    mapPeer(peer, id);

    if (isTrusted(id)) {
        if (!m_discoveredPeers.contains(peer)) {
            if (m_discoveredPeers.size() >= kMaxDiscoveredPeers) m_discoveredPeers.removeFirst();
            m_discoveredPeers.append(peer);
            emit discoveredPeersChanged();
        }
        consoleLine(QStringLiteral("Found trusted device: ") + id + QStringLiteral(", inviting..."));
        m_transport.invite(peer, kInvitationTimeoutMs);
    } else if (m_targetHostId == id) {
        consoleLine(QStringLiteral("Found target host: ") + id + QStringLiteral(", inviting as guest..."));
        m_transport.invite(peer, kInvitationTimeoutMs);
    }
}

void MultipeerManager::onPeerLost(const PeerHandle &peer) {
    if (m_discoveredPeers.removeAll(peer) > 0) emit discoveredPeersChanged();
}

void MultipeerManager::onInvitationReceived(const PeerHandle &peer) {
    // Whom to connect to is the inviting side's decision; only a peer already
    // caught claiming another device's identity is turned away.
    m_transport.respondToInvitation(peer, !m_refusedPeers.contains(peer));
}

void MultipeerManager::setConnectedPeers(const QList<PeerHandle> &peers) {
    if (peers == m_connectedPeers) return;
    m_connectedPeers = peers;
    emit connectedPeersChanged();
    emit trustedDevicesChanged(); // their isConnected
}

void MultipeerManager::onPeerStateChanged(const PeerHandle &peer, PeerConnectionState state) {
    setConnectedPeers(m_transport.connectedPeers());
    switch (state) {
    case PeerConnectionState::Connecting:
        consoleLine(QStringLiteral("Connecting to: ") + peer.displayName);
        break;
    case PeerConnectionState::Connected:
        consoleLine(QStringLiteral("Connected to: ") + peer.displayName);
        sendHandshake(peer);
        if (m_targetHostId && deviceIdOf(peer) == m_targetHostId) m_targetHostId.reset();
        m_clock.callLater(kSyncDelayMs, this, [this] {
            sendSyncState();
            sendSyncStats();
        });
        break;
    case PeerConnectionState::NotConnected: {
        consoleLine(QStringLiteral("Disconnected from: ") + peer.displayName);
        m_verifiedDeviceIds.remove(peer);
        if (m_connectedPeers.contains(peer)) {
            QList<PeerHandle> remaining = m_connectedPeers;
            remaining.removeAll(peer);
            setConnectedPeers(remaining);
        }
        const auto id = deviceIdOf(peer);
        if (!id) break;
        if (m_focus.lobbyHostId() == *id) m_focus.leaveLobby();
        // Look again soon, so the device is invited as soon as it is back.
        if (isTrusted(*id)) m_clock.callLater(kRebrowseDelayMs, this, [this] { restartBrowsing(); });
        break;
    }
    }
}

// ---- bookkeeping with bounds -----------------------------------------------------

void MultipeerManager::mapPeer(const PeerHandle &peer, const QString &deviceId) {
    if (!m_peerIDToDeviceID.contains(peer)) {
        if (m_mappingOrder.size() >= kMaxPeerMappings) {
            // Make room with the oldest peer that is not connected.
            auto victim = std::find_if(m_mappingOrder.begin(), m_mappingOrder.end(),
                                       [&](const PeerHandle &p) { return !m_connectedPeers.contains(p); });
            if (victim == m_mappingOrder.end()) victim = m_mappingOrder.begin();
            m_peerIDToDeviceID.remove(*victim);
            m_mappingOrder.erase(victim);
        }
        m_mappingOrder.append(peer);
    }
    m_peerIDToDeviceID.insert(peer, deviceId);
    emit peerMappingChanged();
    emit trustedDevicesChanged(); // their isConnected
}

void MultipeerManager::unmapPeer(const PeerHandle &peer) {
    if (m_peerIDToDeviceID.remove(peer) > 0) {
        m_mappingOrder.removeAll(peer);
        emit peerMappingChanged();
        emit trustedDevicesChanged();
    }
    if (m_discoveredPeers.removeAll(peer) > 0) emit discoveredPeersChanged();
}

void MultipeerManager::addGuest(const PeerHandle &peer, const QString &name) {
    if (m_guestPeers.contains(peer)) return;
    if (m_guestPeers.size() >= kMaxGuestPeers) {
        const auto gone = std::find_if(m_guestPeers.begin(), m_guestPeers.end(),
                                       [&](const PeerHandle &p) { return !m_connectedPeers.contains(p); });
        if (gone == m_guestPeers.end()) {
            consoleLine(QStringLiteral("Not adding guest ") + name + QStringLiteral(": too many guests connected"));
            return;
        }
        m_guestPeers.erase(gone);
    }
    m_guestPeers.append(peer);
    emit guestPeersChanged();
    consoleLine(QStringLiteral("Guest joined: ") + name);
}

void MultipeerManager::pin(const QString &deviceId, const QByteArray &fingerprint) {
    if (m_pins.size() >= kMaxPins) {
        // Linked devices keep their pins; a stranger's makes room. There are
        // fewer linked devices than pins, so one is always found.
        auto it = m_pins.begin();
        while (it != m_pins.end() && isTrusted(it.key())) ++it;
        if (it == m_pins.end()) return;
        m_pins.erase(it);
    }
    m_pins.insert(deviceId, fingerprint);
    savePins();
}

void MultipeerManager::refuse(const PeerHandle &peer, const QString &claimedId) {
    consoleLine(QStringLiteral("Refusing ") + peer.displayName + QStringLiteral(": it claims device ") + claimedId +
                QStringLiteral(" with a certificate other than the one pinned for that device"));
    if (m_refusedPeers.size() >= kMaxRefusedPeers) m_refusedPeers.erase(m_refusedPeers.begin());
    m_refusedPeers.insert(peer, claimedId);
    m_verifiedDeviceIds.remove(peer);
    unmapPeer(peer);
    m_transport.disconnectPeer(peer);
}

// ---- receiving -------------------------------------------------------------------

void MultipeerManager::onDataReceived(const PeerHandle &peer, const QByteArray &data) {
    if (m_refusedPeers.contains(peer)) return;
    if (auto message = peer::parseMessage(data)) handleMessage(peer, *message);
}

PeerStanding MultipeerManager::standingOf(const PeerHandle &peer, const QString &verifiedId) const {
    if (!verifiedId.isEmpty() && isTrusted(verifiedId)) return PeerStanding::TrustedDevice;
    if (m_guestPeers.contains(peer)) return PeerStanding::Guest;
    if (!verifiedId.isEmpty() && m_focus.lobbyHostId() == verifiedId) return PeerStanding::LobbyHost;
    return PeerStanding::None;
}

void MultipeerManager::handleMessage(const PeerHandle &peer, const QJsonObject &m) {
    const QString verifiedId = m_verifiedDeviceIds.value(peer);
    const Sender from{peer, standingOf(peer, verifiedId), verifiedId};
    switch (peer::kindOf(m.value(QLatin1String("action")).toString())) {
    case MessageKind::Handshake: handleHandshake(from, m); break;
    case MessageKind::SyncState: handleSyncState(from, m); break;
    case MessageKind::StartFocus: handleStartFocus(from, m); break;
    case MessageKind::StopFocus: handleStopFocus(from); break;
    case MessageKind::EnterLobby: handleEnterLobby(from, m); break;
    case MessageKind::SetupStatus: handleSetupStatus(from, m); break;
    case MessageKind::UpdateName: handleUpdateName(from, m); break;
    case MessageKind::UnlinkDevice: handleUnlinkDevice(from, m); break;
    case MessageKind::EmergencyUnlock: handleEmergencyUnlock(from, m); break;
    case MessageKind::SyncStats: handleSyncStats(from, m); break;
    case MessageKind::Unknown: break;
    }
}

void MultipeerManager::handleHandshake(const Sender &from, const QJsonObject &m) {
    const auto id = peer::stringMember(m, kDeviceIdMember, peer::kMaxIdLength);
    const auto name = peer::stringMember(m, QLatin1String("deviceName"), peer::kMaxNameLength);
    if (!id || !name || id->isEmpty()) return;
    if (*id == deviceId()) {
        // A copy of this installation's settings, or a peer echoing us back.
        consoleLine(QStringLiteral("Ignoring handshake from ") + from.peer.displayName +
                    QStringLiteral(": it claims this device's own id"));
        return;
    }
    const QByteArray fingerprint = m_transport.peerFingerprint(from.peer);
    if (const auto pinned = pinnedFingerprint(*id); pinned && *pinned != fingerprint) {
        refuse(from.peer, *id);
        return;
    }
    if (!from.deviceId.isEmpty() && from.deviceId != *id) {
        consoleLine(QStringLiteral("Ignoring handshake from ") + from.peer.displayName +
                    QStringLiteral(": this connection already belongs to device ") + from.deviceId);
        return;
    }
    m_verifiedDeviceIds.insert(from.peer, *id);
    mapPeer(from.peer, *id);
    if (!m_pins.contains(*id) && !fingerprint.isEmpty()) pin(*id, fingerprint);

    const auto theirUser = peer::stringMember(m, QLatin1String("userName"), peer::kMaxNameLength);
    const QString ourUser = storedUserName().value_or(QString());
    if (theirUser && !theirUser->isEmpty() && (ourUser.isEmpty() || ourUser == QLatin1String("User")))
        m_prefs.setString(kUserNameKey, *theirUser);

    if (peer::boolMember(m, QLatin1String("isGuest")) == true)
        addGuest(from.peer, *name);
    else
        addTrustedDevice(*id, *name);

    if (m_pendingNameUpdateRecipients.contains(*id)) {
        consoleLine(QStringLiteral("Sending pending name update to ") + *name);
        send(peer::updateName(deviceId(), deviceName()), QList<PeerHandle>{from.peer});
    }
    sendSyncState();
}

void MultipeerManager::startGuestFrom(const QJsonObject &m) {
    const peer::SessionAnnouncement a = peer::readSessionAnnouncement(m);
    m_focus.startGuestSession(a.startTime, a.endTime, a.subject, a.blocks);
}

void MultipeerManager::handleSyncState(const Sender &, const QJsonObject &m) {
    const auto remoteFocusing = peer::boolMember(m, QLatin1String("isFocusing"));
    if (!remoteFocusing || *remoteFocusing == m_focus.isFocusing()) return;
    if (!*remoteFocusing) {
        // Only an explicit "stopFocus" ends a session.
        consoleLine(QStringLiteral("Remote peer is not focusing, but we are. Ignoring implicit stop."));
        return;
    }
    startGuestFrom(m);
}

void MultipeerManager::handleStartFocus(const Sender &, const QJsonObject &m) { startGuestFrom(m); }

void MultipeerManager::handleStopFocus(const Sender &) { m_focus.applyRemoteStop(); }

void MultipeerManager::handleEnterLobby(const Sender &, const QJsonObject &m) {
    const auto hostName = peer::stringMember(m, QLatin1String("hostName"), peer::kMaxNameLength);
    const auto hostId = peer::stringMember(m, QLatin1String("hostId"), peer::kMaxIdLength);
    if (!hostName || !hostId || *hostId == deviceId()) return;
    m_focus.enterLobby(*hostName, *hostId);
}

void MultipeerManager::handleSetupStatus(const Sender &, const QJsonObject &m) {
    const auto settingUp = peer::boolMember(m, QLatin1String("isSettingUp"));
    const auto hostName = peer::stringMember(m, QLatin1String("hostName"), peer::kMaxNameLength);
    const auto hostId = peer::stringMember(m, QLatin1String("hostId"), peer::kMaxIdLength);
    if (!settingUp || !hostName || !hostId || *hostId == deviceId()) return;
    if (*settingUp)
        m_focus.enterLobby(*hostName, *hostId);
    else if (m_focus.lobbyHostId() == *hostId)
        m_focus.leaveLobby();
}

void MultipeerManager::handleUpdateName(const Sender &, const QJsonObject &m) {
    const auto id = peer::stringMember(m, kDeviceIdMember, peer::kMaxIdLength);
    const auto newName = peer::stringMember(m, QLatin1String("newName"), peer::kMaxNameLength);
    if (!id || !newName) return;
    for (TrustedDevice &d : m_trustedDevices) {
        if (d.deviceId != *id) continue;
        if (d.name == *newName) return;
        d.name = *newName;
        saveTrustedDevices();
        emit trustedDevicesChanged();
        return;
    }
}

void MultipeerManager::handleUnlinkDevice(const Sender &, const QJsonObject &m) {
    if (const auto id = peer::stringMember(m, kDeviceIdMember, peer::kMaxIdLength)) removeDevices(*id);
}

void MultipeerManager::handleEmergencyUnlock(const Sender &, const QJsonObject &m) { m_unlock.handlePeerMessage(m); }

void MultipeerManager::handleSyncStats(const Sender &from, const QJsonObject &m) {
    const auto id = peer::stringMember(m, kDeviceIdMember, peer::kMaxIdLength);
    // Totals are kept per device id; only the id this connection's handshake
    // announced may be reported, or one peer could fill the table with
    // invented devices.
    if (!id || from.deviceId.isEmpty() || *id != from.deviceId) return;
    // The store keeps every device's totals for the run; a stream of new
    // identities must not make that table grow without end.
    if (!m_statsReporters.contains(*id)) {
        if (m_statsReporters.size() >= kMaxStatsReporters) return;
        m_statsReporters.insert(*id);
    }
    if (const auto stats = peer::stringMember(m, QLatin1String("lifetimeStats"), kMaxStatsTextLength))
        if (auto decoded = LifetimeStats::decode(stats->toUtf8())) m_statistics.updatePeerStats(*id, *decoded);
    const QJsonValue history = m.value(QLatin1String("history"));
    if (history.isString())
        if (auto items = decodeHistory(history.toString().toUtf8())) m_statistics.mergePeerHistory(*items);
}

// ---- sending ---------------------------------------------------------------------

void MultipeerManager::send(const QJsonObject &message, const std::optional<QList<PeerHandle>> &recipients) {
    const QList<PeerHandle> to = recipients ? *recipients : m_transport.connectedPeers();
    if (to.isEmpty()) return;
    const QByteArray data = peer::serialize(message);
    if (data.size() > PeerTransport::kMaxMessageBytes) {
        consoleLine(QStringLiteral("Error sending message: the message is too large (%1 bytes)").arg(data.size()));
        return;
    }
    QString error;
    if (!m_transport.send(data, to, &error)) consoleLine(QStringLiteral("Error sending message: ") + error);
}

void MultipeerManager::sendHandshake(const PeerHandle &peer) {
    const bool asGuest = m_targetHostId && deviceIdOf(peer) == m_targetHostId;
    send(peer::handshake(deviceId(), deviceName(), storedUserName(), asGuest), QList<PeerHandle>{peer});
}

void MultipeerManager::sendSyncState() {
    send(peer::syncState(m_focus.isFocusing(), m_focus.sessionStartTime(), m_focus.sessionEndTime(),
                         m_focus.currentSubject(), m_focus.currentBlocks()));
}

void MultipeerManager::sendSyncStats() {
    send(peer::syncStats(deviceId(), m_statistics.lifetimeStats(), m_statistics.sessionHistory()));
}

void MultipeerManager::sendStartFocus(const QDateTime &startTime, const QDateTime &endTime, const QString &subject,
                                      const SessionPlan &blocks) {
    send(peer::startFocus(startTime, endTime, subject, blocks));
}

void MultipeerManager::sendStopFocus() {
    QList<PeerHandle> linked;
    for (const PeerHandle &p : m_transport.connectedPeers())
        if (const auto id = deviceIdOf(p); id && isTrusted(*id)) linked.append(p);
    if (linked.isEmpty()) return;
    send(peer::stopFocus(), linked);
}

void MultipeerManager::sendSetupStatus(bool isSettingUp) {
    send(peer::setupStatus(isSettingUp, deviceName(), deviceId()));
}

void MultipeerManager::sendToAllConnected(const QJsonObject &message) { send(message); }

void MultipeerManager::sendEnterLobby(const QString &hostName, const QString &hostId) {
    send(peer::enterLobby(hostName, hostId));
}

// ---- linked devices -----------------------------------------------------------

void MultipeerManager::addTrustedDevice(const QString &deviceId, const QString &name) {
    if (deviceId.isEmpty() || deviceId == this->deviceId() || isTrusted(deviceId)) return;
    if (m_trustedDevices.size() >= kMaxTrustedDevices) {
        consoleLine(QStringLiteral("Not linking ") + deviceId +
                    QStringLiteral(": already linked to %1 devices").arg(m_trustedDevices.size()));
        return;
    }
    m_trustedDevices.append(TrustedDevice{deviceId, name, m_clock.now()});
    saveTrustedDevices();
    emit trustedDevicesChanged();
    inviteDevice(deviceId);
}

void MultipeerManager::removeDevices(const QString &deviceId) {
    if (m_trustedDevices.removeIf([&](const TrustedDevice &d) { return d.deviceId == deviceId; }) == 0) return;
    saveTrustedDevices();
    emit trustedDevicesChanged();
}

void MultipeerManager::removeTrustedDevice(const QString &deviceId) {
    // Tell it through a live connection, if one of its peers has one.
    for (const PeerHandle &p : peersOf(deviceId)) {
        if (!m_connectedPeers.contains(p)) continue;
        send(peer::unlinkDevice(this->deviceId()), QList<PeerHandle>{p});
        break;
    }
    removeDevices(deviceId);
    // Unlinking also forgets its certificate, so the device can be linked
    // again after it was reinstalled.
    if (m_pins.remove(deviceId) > 0) savePins();
    m_refusedPeers.removeIf([&](const auto &entry) { return entry.value() == deviceId; });
}

void MultipeerManager::updateDeviceName(const QString &newName) {
    if (newName.isEmpty()) return;
    m_prefs.setString(DeviceIDManager::kCustomNameKey, newName);
    emit deviceNameChanged();
    m_pendingNameUpdateRecipients.clear();
    for (const TrustedDevice &d : m_trustedDevices) m_pendingNameUpdateRecipients.insert(d.deviceId);
    savePendingNameUpdates();
    send(peer::updateName(deviceId(), newName));
}

void MultipeerManager::resetAll() {
    m_trustedDevices.clear();
    emit trustedDevicesChanged();
    m_guestPeers.clear();
    emit guestPeersChanged();
    m_pendingNameUpdateRecipients.clear();
    m_peerIDToDeviceID.clear();
    m_mappingOrder.clear();
    emit peerMappingChanged();
    // No linked devices are left to have been discovered.
    if (!m_discoveredPeers.isEmpty()) {
        m_discoveredPeers.clear();
        emit discoveredPeersChanged();
    }
    m_verifiedDeviceIds.clear();
    m_pins.clear();
    m_refusedPeers.clear();
    m_transport.disconnectAll();
    m_prefs.remove(kTrustedDevicesKey);
    m_prefs.remove(kPendingNameUpdatesKey);
    m_prefs.remove(DeviceIDManager::kCustomNameKey);
    m_prefs.remove(kPinsKey);
    m_transport.stopAdvertising();
    m_advertising = false;
    m_transport.stopBrowsing();
    m_browsing = false;
    startAdvertising();
    startBrowsing();
}

// ---- group sessions -----------------------------------------------------------

void MultipeerManager::joinHost(const QString &hostId) {
    m_targetHostId = hostId;
    startBrowsing();
    inviteDevice(hostId);
}

// ---- codes and links ----------------------------------------------------------

QRCodeData MultipeerManager::qrCodeData(const QString &type) const {
    return QRCodeData{deviceId(), deviceName(), storedUserName(), type, toUnixSeconds(m_clock.now())};
}

bool MultipeerManager::linkDeviceFromCode(const QString &text) {
    const auto code = parseQRCode(text);
    if (!code || code->type != QRCodeData::kLinkType) return false;
    addTrustedDevice(code->deviceId, code->deviceName);
    return true;
}

bool MultipeerManager::linkDeviceFromOnboardingCode(const QString &text) {
    const auto code = parseQRCode(text);
    if (!code || code->type != QRCodeData::kLinkType) return false;
    if (code->userName && !code->userName->isEmpty()) m_prefs.setString(kUserNameKey, *code->userName);
    addTrustedDevice(code->deviceId, code->deviceName);
    return true;
}

bool MultipeerManager::joinSessionFromCode(const QString &text) {
    const auto code = parseQRCode(text);
    if (!code || code->type != QRCodeData::kInviteType || code->deviceId == deviceId()) return false;
    joinHost(code->deviceId);
    m_focus.enterLobby(code->deviceName, code->deviceId);
    sendEnterLobby(code->deviceName, code->deviceId);
    return true;
}

bool MultipeerManager::handleIncomingLink(const QString &text) {
    return linkDeviceFromCode(text) || joinSessionFromCode(text);
}

// ---- storage --------------------------------------------------------------------

void MultipeerManager::loadTrustedDevices() {
    const auto data = m_prefs.dataValue(kTrustedDevicesKey);
    if (!data) return;
    if (auto devices = decodeTrustedDevices(*data)) {
        m_trustedDevices = *devices;
        emit trustedDevicesChanged();
    }
}

void MultipeerManager::saveTrustedDevices() {
    m_prefs.setData(kTrustedDevicesKey, encodeTrustedDevices(m_trustedDevices));
}

void MultipeerManager::loadPendingNameUpdates() {
    const auto data = m_prefs.dataValue(kPendingNameUpdatesKey);
    if (!data) return;
    if (auto ids = decodeDeviceIdSet(*data)) m_pendingNameUpdateRecipients = *ids;
}

void MultipeerManager::savePendingNameUpdates() {
    m_prefs.setData(kPendingNameUpdatesKey, encodeDeviceIdSet(m_pendingNameUpdateRecipients));
}

void MultipeerManager::loadPins() {
    const auto data = m_prefs.dataValue(kPinsKey);
    if (!data) return;
    const auto pins = decodeCertificatePins(*data);
    if (!pins) return;
    for (auto it = pins->cbegin(); it != pins->cend() && m_pins.size() < kMaxPins; ++it)
        m_pins.insert(it.key(), it.value());
}

void MultipeerManager::savePins() { m_prefs.setData(kPinsKey, encodeCertificatePins(m_pins)); }

// ---- reads for screens ----------------------------------------------------------

QVariantList MultipeerManager::peersVariant(const QList<PeerHandle> &peers) const {
    QVariantList list;
    list.reserve(peers.size());
    for (const PeerHandle &p : peers)
        list.append(QVariantMap{{QStringLiteral("key"), p.key},
                                {QStringLiteral("displayName"), p.displayName},
                                {QStringLiteral("deviceId"), deviceIdOf(p).value_or(QString())}});
    return list;
}

QVariantList MultipeerManager::trustedDevicesVariant() const {
    QVariantList list;
    list.reserve(m_trustedDevices.size());
    for (const TrustedDevice &d : m_trustedDevices)
        list.append(QVariantMap{{QStringLiteral("deviceId"), d.deviceId},
                                {QStringLiteral("name"), d.name},
                                {QStringLiteral("dateAdded"), d.dateAdded},
                                {QStringLiteral("isConnected"), isDeviceConnected(d.deviceId)}});
    return list;
}

} // namespace quillmoss
