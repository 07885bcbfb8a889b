#pragma once

#include "devices/PeerPort.h"
#include "devices/QRCodeData.h"
#include "devices/TrustedDevices.h"
#include "platform/PeerTransport.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QVariantList>

#include <optional>

namespace quillmoss {

class AnalyticsManager;
class Clock;
class DeviceIDManager;
class EmergencyUnlockManager;
class FocusManager;
class PreferencesStore;

// Where a message's sender stands with this device, judged from the device id
// its handshake on the current connection announced.
enum class PeerStanding {
    TrustedDevice, // a linked device of this one
    Guest,         // joined this device's session through its lobby
    LobbyHost,     // the host whose lobby this device waits in
    None,
};

// Owns the exchange with other installations: advertises this device, browses
// for others, decides whom to invite, accepts invitations, keeps the map from
// peers to device ids and the linked-device list, and sends and dispatches
// the JSON messages that mirror sessions, run lobbies, share statistics and
// the emergency unlock. The transport below does discovery and delivery.
//
// Certificates are pinned per device id: the first accepted handshake that
// announces an id records the peer's certificate fingerprint, and a later
// peer that claims the id with another certificate is disconnected unheard.
class MultipeerManager final : public QObject, public PeerPort {
    Q_OBJECT
    // Each peer as a map: "key", "displayName", "deviceId" (empty when unknown).
    Q_PROPERTY(QVariantList connectedPeers READ connectedPeersVariant NOTIFY connectedPeersChanged)
    Q_PROPERTY(QVariantList discoveredPeers READ discoveredPeersVariant NOTIFY discoveredPeersChanged)
    Q_PROPERTY(QVariantList guestPeers READ guestPeersVariant NOTIFY guestPeersChanged)
    // Each as a map: "deviceId", "name", "dateAdded" (date), "isConnected".
    Q_PROPERTY(QVariantList trustedDevices READ trustedDevicesVariant NOTIFY trustedDevicesChanged)
    Q_PROPERTY(int connectedPeerCount READ connectedPeerCount NOTIFY connectedPeersChanged)
    Q_PROPERTY(QString deviceName READ deviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(QString deviceId READ deviceId CONSTANT)

public:
    struct Collaborators {
        PreferencesStore &preferences;
        Clock &clock;
        PeerTransport &transport;
        FocusManager &focus;
        AnalyticsManager &statistics;
        DeviceIDManager &deviceIds;
        EmergencyUnlockManager &unlock;
    };

    static inline const QString kServiceType = QStringLiteral("quillmoss-sync");
    static inline const QString kTrustedDevicesKey = QStringLiteral("TrustedDevices");
    static inline const QString kPendingNameUpdatesKey = QStringLiteral("PendingNameUpdates");
    static inline const QString kPinsKey = QStringLiteral("TrustedDevicePins");
    static inline const QString kUserNameKey = QStringLiteral("userName");
    static constexpr int kInvitationTimeoutMs = 30'000;
    static constexpr int kSyncDelayMs = 500;
    static constexpr int kRebrowseDelayMs = 2'000;
    // Bounds on what strangers on the network can make us remember.
    static constexpr int kMaxPeerMappings = 256;
    static constexpr int kMaxDiscoveredPeers = 64;
    static constexpr int kMaxGuestPeers = 64;
    static constexpr int kMaxTrustedDevices = 100;
    static constexpr int kMaxPins = 256;
    static constexpr int kMaxRefusedPeers = 64;
    // Devices whose totals are passed to the statistics store in one run,
    // and the largest totals text taken (a real one is a few hundred bytes).
    static constexpr int kMaxStatsReporters = 128;
    static constexpr qsizetype kMaxStatsTextLength = 64 * 1024;

    explicit MultipeerManager(Collaborators collaborators, QObject *parent = nullptr);
    ~MultipeerManager() override;

    static MultipeerManager *shared();
    static void setShared(MultipeerManager *manager);

    // --- published state
    QList<PeerHandle> connectedPeers() const { return m_connectedPeers; }
    QList<PeerHandle> discoveredPeers() const { return m_discoveredPeers; }
    QList<PeerHandle> guestPeers() const { return m_guestPeers; }
    const TrustedDeviceList &trustedDevices() const { return m_trustedDevices; }
    int connectedPeerCount() const { return int(m_connectedPeers.size()); }
    QSet<QString> pendingNameUpdateRecipients() const { return m_pendingNameUpdateRecipients; }
    std::optional<QString> targetHostId() const { return m_targetHostId; }
    // The device id a peer announced (by discovery or handshake), if any.
    std::optional<QString> deviceIdOf(const PeerHandle &peer) const;
    std::optional<QByteArray> pinnedFingerprint(const QString &deviceId) const;
    bool isTrusted(const QString &deviceId) const;
    // Some connected peer is known to belong to `deviceId`.
    Q_INVOKABLE bool isDeviceConnected(const QString &deviceId) const;
    bool isBrowsing() const { return m_browsing; }
    bool isAdvertising() const { return m_advertising; }

    // This device as others see it.
    QString deviceName() const;
    QString deviceId() const;

    // --- transport operations
    void startAdvertising();
    void startBrowsing();
    void restartBrowsing();
    // Invites the discovered, unconnected peers of `deviceId` (only while browsing).
    void inviteDevice(const QString &deviceId);
    // To `recipients`, or to every connected peer when none are given. Nobody
    // to send to sends nothing and says nothing.
    void send(const QJsonObject &message, const std::optional<QList<PeerHandle>> &recipients = std::nullopt);
    // Forgets every link, guest, mapping and pin, drops all connections and
    // starts advertising and browsing afresh (the account reset).
    Q_INVOKABLE void resetAll();

    // --- linked devices
    // Links `deviceId` unless it is already linked (or is this device) and
    // invites it.
    Q_INVOKABLE void addTrustedDevice(const QString &deviceId, const QString &name);
    // Tells the device (when connected) and forgets it and its pin; the
    // connection stays.
    Q_INVOKABLE void removeTrustedDevice(const QString &deviceId);
    // Stores the new name, tells connected peers, and remembers to tell every
    // other linked device at its next handshakes.
    Q_INVOKABLE void updateDeviceName(const QString &newName);

    // --- group sessions
    Q_INVOKABLE void joinHost(const QString &hostId);
    Q_INVOKABLE void sendEnterLobby(const QString &hostName, const QString &hostId);
    void sendHandshake(const PeerHandle &peer);
    void sendSyncState();
    void sendSyncStats();

    // --- PeerPort (the engine and the emergency unlock)
    void sendStartFocus(const QDateTime &startTime, const QDateTime &endTime, const QString &subject,
                        const SessionPlan &blocks) override;
    void sendStopFocus() override;
    Q_INVOKABLE void sendSetupStatus(bool isSettingUp) override;
    void sendToAllConnected(const QJsonObject &message) override;
    int guestPeerCount() const override { return int(m_guestPeers.size()); }

    // --- codes and links
    // This device's payload of `type` ("quillmoss" or "session_invite") now.
    QRCodeData qrCodeData(const QString &type) const;
    Q_INVOKABLE QString qrLinkText(const QString &type) const { return qrCodeData(type).linkText(); }
    // The link-device scanner: links the device of a "quillmoss" code.
    Q_INVOKABLE bool linkDeviceFromCode(const QString &text);
    // Onboarding's scanner: as above, adopting the code's user name first.
    Q_INVOKABLE bool linkDeviceFromOnboardingCode(const QString &text);
    // The join scanner: joins the host of a "session_invite" code that is not
    // this device's own.
    Q_INVOKABLE bool joinSessionFromCode(const QString &text);

public slots:
    // A "quillmoss://" link opened in the app: either kind of code. True when
    // it was acted on.
    bool handleIncomingLink(const QString &text);

signals:
    void connectedPeersChanged();
    void discoveredPeersChanged();
    void guestPeersChanged();
    void trustedDevicesChanged();
    void peerMappingChanged();
    void deviceNameChanged();

private:
    struct Sender {
        PeerHandle peer;
        PeerStanding standing;
        QString deviceId; // from its handshake on this connection; empty before
    };

    // transport callbacks
    void onPeerFound(const PeerHandle &peer, const QMap<QString, QString> &discoveryInfo);
    void onPeerLost(const PeerHandle &peer);
    void onInvitationReceived(const PeerHandle &peer);
    void onPeerStateChanged(const PeerHandle &peer, PeerConnectionState state);
    void onDataReceived(const PeerHandle &peer, const QByteArray &data);

    // the one place received messages are dispatched
    void handleMessage(const PeerHandle &peer, const QJsonObject &message);
    PeerStanding standingOf(const PeerHandle &peer, const QString &verifiedId) const;
    void handleHandshake(const Sender &from, const QJsonObject &m);
    void handleSyncState(const Sender &from, const QJsonObject &m);
    void handleStartFocus(const Sender &from, const QJsonObject &m);
    void handleStopFocus(const Sender &from);
    void handleEnterLobby(const Sender &from, const QJsonObject &m);
    void handleSetupStatus(const Sender &from, const QJsonObject &m);
    void handleUpdateName(const Sender &from, const QJsonObject &m);
    void handleUnlinkDevice(const Sender &from, const QJsonObject &m);
    void handleEmergencyUnlock(const Sender &from, const QJsonObject &m);
    void handleSyncStats(const Sender &from, const QJsonObject &m);

    void refuse(const PeerHandle &peer, const QString &claimedId);
    void mapPeer(const PeerHandle &peer, const QString &deviceId);
    void unmapPeer(const PeerHandle &peer);
    void addGuest(const PeerHandle &peer, const QString &name);
    void pin(const QString &deviceId, const QByteArray &fingerprint);
    void removeDevices(const QString &deviceId);
    void setConnectedPeers(const QList<PeerHandle> &peers);
    QList<PeerHandle> peersOf(const QString &deviceId) const;
    void startGuestFrom(const QJsonObject &m);
    std::optional<QString> storedUserName() const;

    void loadTrustedDevices();
    void saveTrustedDevices();
    void loadPendingNameUpdates();
    void savePendingNameUpdates();
    void loadPins();
    void savePins();

    QVariantList peersVariant(const QList<PeerHandle> &peers) const;
    QVariantList connectedPeersVariant() const { return peersVariant(m_connectedPeers); }
    QVariantList discoveredPeersVariant() const { return peersVariant(m_discoveredPeers); }
    QVariantList guestPeersVariant() const { return peersVariant(m_guestPeers); }
    QVariantList trustedDevicesVariant() const;

    PreferencesStore &m_prefs;
    Clock &m_clock;
    PeerTransport &m_transport;
    FocusManager &m_focus;
    AnalyticsManager &m_statistics;
    DeviceIDManager &m_deviceIds;
    EmergencyUnlockManager &m_unlock;

    QList<PeerHandle> m_connectedPeers;
    QList<PeerHandle> m_discoveredPeers;
    TrustedDeviceList m_trustedDevices;
    QList<PeerHandle> m_guestPeers;
    QSet<QString> m_pendingNameUpdateRecipients;
    std::optional<QString> m_targetHostId;
    bool m_advertising = false;
    bool m_browsing = false;
    // Entries stay until resetAll; the oldest unconnected one makes room when
    // the bound is reached.
    QHash<PeerHandle, QString> m_peerIDToDeviceID;
    QList<PeerHandle> m_mappingOrder;
    // Device id each connected peer's accepted handshake announced; one per
    // connection, so a peer cannot claim a second identity mid-connection.
    QHash<PeerHandle, QString> m_verifiedDeviceIds;
    CertificatePins m_pins;
    // Peers refused for a certificate mismatch, with the id they claimed;
    // ignored for the rest of the run (or until that id is unlinked).
    QHash<PeerHandle, QString> m_refusedPeers;
    QSet<QString> m_statsReporters;
};

} // namespace quillmoss
