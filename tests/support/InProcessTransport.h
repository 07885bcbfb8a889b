#pragma once

#include "platform/PeerTransport.h"

#include <QHash>
#include <QJsonObject>
#include <QPointer>
#include <QSet>

#include <functional>
#include <memory>

namespace quillmoss::test {

class InProcessTransport;

// A pretend local network joining several transports in one process. Every
// signal a transport emits is queued on the main queue, as the real
// transport's are; settle() runs them (and whatever they cause) until the
// network is quiet.
class InProcessNetwork final : public QObject {
    Q_OBJECT
public:
    ~InProcessNetwork() override;

    // Runs queued deliveries until none are left. False if they never stop.
    bool settle(int maxRounds = 10'000);
    int pendingDeliveries() const { return m_pending; }

    // Devices out of range neither see nor reach each other; going out of
    // range drops their connection.
    void setInRange(InProcessTransport &a, InProcessTransport &b, bool inRange);
    bool inRange(const InProcessTransport &a, const InProcessTransport &b) const;

private:
    friend class InProcessTransport;
    void post(QObject *target, std::function<void()> action);
    InProcessTransport *node(const QString &key) const;

    QList<InProcessTransport *> m_nodes;
    QSet<QString> m_apart; // "keyA|keyB", both orders
    int m_pending = 0;
};

// One installation's transport on the pretend network. Invitations are
// answered by the invited side's owner; an invitation to a peer that is gone
// or out of range fails at once. Nothing ever times out on its own.
class InProcessTransport final : public PeerTransport {
    Q_OBJECT
public:
    InProcessTransport(InProcessNetwork &network, const QString &key, const QString &displayName,
                       QByteArray fingerprint = {});
    ~InProcessTransport() override;

    PeerHandle localPeer() const override { return m_self; }
    void startAdvertising(const QString &serviceType, const QMap<QString, QString> &discoveryInfo) override;
    void stopAdvertising() override;
    bool isAdvertising() const override { return m_advertising; }
    void startBrowsing(const QString &serviceType) override;
    void stopBrowsing() override;
    bool isBrowsing() const override { return m_browsing; }
    void invite(const PeerHandle &peer, int timeoutMs) override;
    QList<PeerHandle> connectedPeers() const override;
    QByteArray peerFingerprint(const PeerHandle &peer) const override;
    bool send(const QByteArray &data, const QList<PeerHandle> &recipients, QString *error) override;
    void disconnectPeer(const PeerHandle &peer) override;
    void disconnectAll() override;
    void respondToInvitation(const PeerHandle &peer, bool accept) override;

    QByteArray fingerprint() const { return m_fingerprint; }

    // --- what a test looks at or arranges
    struct Delivery {
        PeerHandle from;
        QByteArray data;
        QJsonObject json() const;
        QString action() const;
    };
    QList<Delivery> received;        // every message delivered here, in order
    QList<PeerHandle> invitationsSent;
    int browseStarts = 0;
    QString failSendsWith;           // when set, every send fails with it
    QMap<QString, QString> advertisedInfo() const { return m_info; }
    QString advertisedService() const { return m_service; }

    int receivedCount(const QString &action) const;
    QList<QJsonObject> receivedOf(const QString &action) const;
    // Raw bytes to a connected peer, bypassing any manager.
    void deliverRaw(const PeerHandle &to, const QByteArray &data);

private:
    friend class InProcessNetwork;
    bool seesAdvertisement(const InProcessTransport &other) const;
    void announceTo(InProcessTransport &browser);
    void link(InProcessTransport &other);
    void unlink(InProcessTransport &other);
    void postState(InProcessTransport &to, const PeerHandle &about, PeerConnectionState state);

    InProcessNetwork &m_network;
    PeerHandle m_self;
    QByteArray m_fingerprint;
    bool m_advertising = false;
    bool m_browsing = false;
    QString m_service;
    QString m_browseService;
    QMap<QString, QString> m_info;
    QSet<QString> m_connected;        // peer keys
    QSet<QString> m_pendingInvitations; // keys of peers that invited us
};

} // namespace quillmoss::test
