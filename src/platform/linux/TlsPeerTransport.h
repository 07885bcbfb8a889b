#pragma once

#include "PeerIdentity.h"
#include "platform/PeerTransport.h"

#include <QDateTime>
#include <QHostAddress>
#include <QPointer>

#include <map>
#include <memory>

class QSslConfiguration;
class QSslSocket;

namespace quillmoss {

class AvahiServiceDiscovery;
class Clock;
class ClockTimer;
class TlsPeerServer;
struct DnsSdService;

// The peer transport on Linux: DNS-SD through avahi-daemon for discovery, TCP
// with TLS 1.3 and self-signed certificates for connections, length-prefixed
// frames for messages. docs/protocol.md describes the wire format.
//
// Timeouts run on the given Clock, so tests drive them without waiting.
class TlsPeerTransport final : public PeerTransport {
    Q_OBJECT
public:
    struct Options {
        // Publish and browse through avahi-daemon. Without it, peers are only
        // known through addKnownPeer().
        bool dnsSd = true;
        QHostAddress listenAddress = QHostAddress(QHostAddress::AnyIPv4);
        quint16 listenPort = 0; // 0: any free port
    };

    TlsPeerTransport(const PeerIdentity &identity, Clock &clock, const Options &options, QObject *parent = nullptr);
    TlsPeerTransport(const PeerIdentity &identity, Clock &clock, QObject *parent = nullptr)
        : TlsPeerTransport(identity, clock, Options(), parent) {}
    ~TlsPeerTransport() override;

    PeerHandle localPeer() const override { return m_identity.handle(); }

    void startAdvertising(const QString &serviceType, const QMap<QString, QString> &discoveryInfo) override;
    void stopAdvertising() override;
    bool isAdvertising() const override { return m_advertising; }
    void startBrowsing(const QString &serviceType) override;
    void stopBrowsing() override;
    bool isBrowsing() const override { return m_browsing; }

    void invite(const PeerHandle &peer, int timeoutMs) override;
    void respondToInvitation(const PeerHandle &peer, bool accept) override;
    QList<PeerHandle> connectedPeers() const override;
    QByteArray peerFingerprint(const PeerHandle &peer) const override;
    bool send(const QByteArray &data, const QList<PeerHandle> &recipients, QString *error) override;
    void disconnectPeer(const PeerHandle &peer) override;
    void disconnectAll() override;

    // A peer reachable at a known address, reported through peerFound as if
    // discovery had found it there (for peers reached without DNS-SD, and for
    // tests). A failed connection forgets it again, like a discovered one.
    void addKnownPeer(const PeerHandle &peer, const QHostAddress &address, quint16 port,
                      const QMap<QString, QString> &discoveryInfo = {});

    bool isListening() const;
    quint16 listeningPort() const;
    QByteArray localFingerprint() const { return m_identity.fingerprint(); }
    // Incoming connections that have not been accepted yet: TLS handshakes,
    // connections that have not sent their invitation, unanswered invitations.
    int unacceptedConnectionCount() const;
    // When a connected peer last sent anything (keepalives included); invalid
    // when not connected.
    QDateTime lastHeard(const PeerHandle &peer) const;

    // "quillmoss-sync" → "_quillmoss-sync._tcp"; empty when the name is not a
    // valid DNS-SD service name (1–15 letters, digits and inner hyphens).
    static QString dnsSdServiceType(const QString &serviceType);

    // A TLS connection must be up this long after it was opened.
    static constexpr int kHandshakeTimeoutMs = 3000;
    // An incoming connection must send its invitation this long after TLS.
    static constexpr int kFirstFrameTimeoutMs = 3000;
    // An invitation the app has not answered is declined after this long.
    static constexpr int kUnansweredInvitationMs = 60000;
    // invite() with a timeout of 0 or less.
    static constexpr int kDefaultInviteTimeoutMs = 30000;
    // Connected links send an empty frame this often and are dropped after
    // hearing nothing for kSilenceLimitMs.
    static constexpr int kKeepaliveIntervalMs = 10000;
    static constexpr int kSilenceLimitMs = 30000;
    // Incoming connections not yet accepted, all peers together.
    static constexpr int kMaxUnacceptedConnections = 16;
    // Bytes waiting to go out to one peer before send() refuses more.
    static constexpr qint64 kMaxQueuedBytes = 8 * kMaxMessageBytes;
    // TXT keys the transport adds to the discovery info.
    static inline const QString kPeerKeyTxt = QStringLiteral("peer");
    static inline const QString kPeerNameTxt = QStringLiteral("name");

private:
    enum class Phase {
        Handshaking,    // TCP connect and TLS in progress
        AwaitingAnswer, // outgoing: invitation sent
        AwaitingInvite, // incoming: TLS up, first frame not yet read
        Invited,        // incoming: the app decides
        Open,           // frames are app messages
    };
    struct Link;
    struct Peer;
    struct Endpoint {
        QHostAddress address;
        quint16 port = 0;
    };

    friend class TlsPeerServer;
    bool admitIncoming() const;
    void adoptIncoming(QSslSocket *socket);
    void onPendingConnections();

    Link *link(quint64 id) const;
    Peer *peer(const QString &key) const;
    Peer &peerRecord(const PeerHandle &handle);
    quint64 addLink(QSslSocket *socket, bool outgoing, Phase phase, const QString &peerKey);
    void watchSocket(quint64 id, QSslSocket *socket);
    void armDeadline(Link &link, int ms);
    void closeLink(quint64 id, bool graceful);
    void writeFrame(Link &link, const QByteArray &payload);

    void onOutgoingEncrypted(quint64 id);
    void onReadable(quint64 id);
    void onFrame(quint64 id, const QByteArray &payload);
    void onInvitation(quint64 id, const QByteArray &payload);
    void onAnswer(quint64 id, const QByteArray &payload);
    void onDeadline(quint64 id);
    void onKeepalive(quint64 id);
    void dropLink(quint64 id, const QString &why, bool peerGone);
    void openLink(quint64 id);
    void decline(quint64 id, bool duplicate);
    void endInvitation(Peer &peer);
    bool ownInvitationWins(const Peer &peer) const;

    void setState(const QString &key, PeerConnectionState state);
    void markGone(const QString &key);
    void reportFound(Peer &peer, const QString &endpointId, const Endpoint &endpoint,
                     const QMap<QString, QString> &info);
    void onServiceResolved(const DnsSdService &service);
    void onServiceRemoved(const QString &instanceId);
    void forgetIdlePeers();
    void publishService();

    PeerIdentity m_identity;
    Clock &m_clock;
    Options m_options;
    const QString m_instance; // this run, told to peers so they notice a restart
    std::unique_ptr<QSslConfiguration> m_tls;
    TlsPeerServer *m_server = nullptr;
    AvahiServiceDiscovery *m_discovery = nullptr;

    bool m_advertising = false;
    bool m_browsing = false;
    QString m_advertisedType;
    QMap<QString, QString> m_advertisedInfo;

    quint64 m_nextLinkId = 1;
    std::map<quint64, std::unique_ptr<Link>> m_links;
    std::map<QString, std::unique_ptr<Peer>> m_peers;
    std::map<QString, QString> m_instances; // DNS-SD instance id → peer key
    QStringList m_connectedOrder;           // keys of connected peers, oldest first
};

} // namespace quillmoss
