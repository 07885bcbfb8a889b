#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>

namespace quillmoss {

// A remote peer identity as the transport knows it: a stable opaque key (the
// same for discovery and for connections of one installation) and the display
// name it was created with.
struct PeerHandle {
    QString key;
    QString displayName;
    bool operator==(const PeerHandle &o) const { return key == o.key; }
    bool isValid() const { return !key.isEmpty(); }
};
inline size_t qHash(const PeerHandle &p, size_t seed = 0) { return qHash(p.key, seed); }

enum class PeerConnectionState { NotConnected, Connecting, Connected };

// Nearby discovery and encrypted, ordered, reliable delivery of byte messages
// between installations: advertise and browse with a service type and a small
// string dictionary, invitations with a timeout that the other side accepts,
// per-peer connection states. Everything the app decides (whom to invite,
// what the messages mean) lives above this port.
//
// All signals are delivered on the main thread.
class PeerTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // This installation's identity (created on first use and kept).
    virtual PeerHandle localPeer() const = 0;

    virtual void startAdvertising(const QString &serviceType, const QMap<QString, QString> &discoveryInfo) = 0;
    virtual void stopAdvertising() = 0;
    virtual bool isAdvertising() const = 0;
    virtual void startBrowsing(const QString &serviceType) = 0;
    virtual void stopBrowsing() = 0;
    virtual bool isBrowsing() const = 0;

    // Asks a found peer to connect; the peer's owner decides through
    // invitationReceived. Ends in peerStateChanged (Connected, or NotConnected
    // after the timeout or a refusal).
    virtual void invite(const PeerHandle &peer, int timeoutMs) = 0;
    virtual QList<PeerHandle> connectedPeers() const = 0;
    // SHA-256 of the peer's certificate (empty when not connected); the app
    // pins it to the device id the peer announced.
    virtual QByteArray peerFingerprint(const PeerHandle &peer) const = 0;
    // Queues `data` to each recipient in order. False with `error` set when it
    // could not be queued to someone (not connected, too large).
    virtual bool send(const QByteArray &data, const QList<PeerHandle> &recipients, QString *error) = 0;
    virtual void disconnectPeer(const PeerHandle &peer) = 0;
    virtual void disconnectAll() = 0;

    // The largest message `send` accepts.
    static constexpr qsizetype kMaxMessageBytes = 1024 * 1024;

signals:
    void peerFound(const quillmoss::PeerHandle &peer, const QMap<QString, QString> &discoveryInfo);
    void peerLost(const quillmoss::PeerHandle &peer);
    // Answer with respond(peer, accept) — synchronously or later.
    void invitationReceived(const quillmoss::PeerHandle &peer);
    void peerStateChanged(const quillmoss::PeerHandle &peer, quillmoss::PeerConnectionState state);
    void dataReceived(const quillmoss::PeerHandle &peer, const QByteArray &data);

public:
    virtual void respondToInvitation(const PeerHandle &peer, bool accept) = 0;
};

} // namespace quillmoss

Q_DECLARE_METATYPE(quillmoss::PeerHandle)
Q_DECLARE_METATYPE(quillmoss::PeerConnectionState)
