#include "TlsPeerTransport.h"

#include "AvahiServiceDiscovery.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/FrameCodec.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QUuid>

#include <unistd.h>

namespace quillmoss {

// QSslServer with a bound on connections that have not finished their TLS
// handshake, and with each new socket handed to the transport at once so that
// its handshake deadline runs on the transport's clock.
class TlsPeerServer final : public QSslServer {
public:
    explicit TlsPeerServer(TlsPeerTransport *transport) : QSslServer(transport), m_transport(transport) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        if (!m_transport->admitIncoming()) {
            ::close(int(descriptor));
            return;
        }
        QSslServer::incomingConnection(descriptor);
        // QSslServer makes the socket its newest child.
        const QObjectList &kids = children();
        if (auto *socket = kids.isEmpty() ? nullptr : qobject_cast<QSslSocket *>(kids.last()))
            m_transport->adoptIncoming(socket);
    }

private:
    TlsPeerTransport *m_transport;
};

struct TlsPeerTransport::Link {
    quint64 id = 0;
    QPointer<QSslSocket> socket;
    bool outgoing = false;
    Phase phase = Phase::Handshaking;
    QString peerKey;  // outgoing: whom we called; incoming: who invited
    QString instance; // the peer's run, from its invite or accept
    QString address;  // for console lines
    FrameDecoder decoder{kMaxControlFrameBytes};
    std::unique_ptr<ClockTimer> deadline;
    std::unique_ptr<ClockTimer> keepalive;
    QByteArray fingerprint;
    QDateTime lastHeard;
};

struct TlsPeerTransport::Peer {
    PeerHandle handle;
    QMap<QString, QString> info;
    std::map<QString, Endpoint> endpoints; // by DNS-SD instance id, or the known-address entry
    QString latestEndpoint;
    bool found = false; // peerFound reported and not lost since
    PeerConnectionState state = PeerConnectionState::NotConnected;
    quint64 open = 0;     // the connection carrying app messages
    quint64 outgoing = 0; // our invitation in progress
    quint64 incoming = 0; // their invitation waiting for the app
    // Our invitation met theirs and lost the tie-break: we wait for theirs.
    bool awaitingTheirInvitation = false;
    std::unique_ptr<ClockTimer> inviteTimer;
};

namespace {

const QString kKnownEndpoint = QStringLiteral("known");
constexpr qint64 kReadChunkBytes = 64 * 1024;

} // namespace

TlsPeerTransport::TlsPeerTransport(const PeerIdentity &identity, Clock &clock, const Options &options, QObject *parent)
    : PeerTransport(parent), m_identity(identity), m_clock(clock), m_options(options),
      m_instance(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()),
      m_tls(std::make_unique<QSslConfiguration>(QSslConfiguration::defaultConfiguration())) {
    qRegisterMetaType<PeerHandle>();
    qRegisterMetaType<PeerConnectionState>();

    // Both sides present their self-signed certificate and accept the other's
    // without a chain: trust is the app's fingerprint pinning, not a CA.
    m_tls->setProtocol(QSsl::TlsV1_3OrLater);
    m_tls->setPeerVerifyMode(QSslSocket::QueryPeer);
    m_tls->setLocalCertificate(m_identity.certificate());
    m_tls->setPrivateKey(m_identity.privateKey());

    m_server = new TlsPeerServer(this);
    m_server->setSslConfiguration(*m_tls);
    m_server->setHandshakeTimeout(kHandshakeTimeoutMs);
    connect(m_server, &QSslServer::pendingConnectionAvailable, this, &TlsPeerTransport::onPendingConnections);
    if (!m_identity.isValid())
        consoleLine(QStringLiteral("Peer connections unavailable: no peer identity"));
    else if (!m_server->listen(m_options.listenAddress, m_options.listenPort))
        consoleLine(QStringLiteral("Cannot accept peer connections: ") + m_server->errorString());

    if (m_options.dnsSd) {
        m_discovery = new AvahiServiceDiscovery(clock, this);
        connect(m_discovery, &AvahiServiceDiscovery::serviceResolved, this, &TlsPeerTransport::onServiceResolved);
        connect(m_discovery, &AvahiServiceDiscovery::serviceRemoved, this, &TlsPeerTransport::onServiceRemoved);
    }
}

TlsPeerTransport::~TlsPeerTransport() {
    // Nothing is reported while going away.
    for (auto &[id, l] : m_links) {
        l->deadline.reset();
        l->keepalive.reset();
        if (l->socket) {
            l->socket->disconnect(this);
            l->socket->abort();
        }
    }
    m_links.clear();
    delete m_discovery;
}

// --- Discovery ----------------------------------------------------------------

QString TlsPeerTransport::dnsSdServiceType(const QString &serviceType) {
    static const QRegularExpression valid(QStringLiteral("^(?=.{1,15}$)[A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?$"));
    if (!valid.match(serviceType).hasMatch() || serviceType.contains(QStringLiteral("--")))
        return {};
    return u'_' + serviceType + QStringLiteral("._tcp");
}

void TlsPeerTransport::startAdvertising(const QString &serviceType, const QMap<QString, QString> &discoveryInfo) {
    m_advertisedType = dnsSdServiceType(serviceType);
    if (m_advertisedType.isEmpty()) {
        consoleLine(QStringLiteral("Not advertising: invalid service type ") + serviceType);
        return;
    }
    m_advertising = true;
    m_advertisedInfo = discoveryInfo;
    publishService();
}

void TlsPeerTransport::publishService() {
    if (!m_discovery || !m_advertising)
        return;
    if (!isListening()) {
        consoleLine(QStringLiteral("Not advertising: not accepting connections"));
        return;
    }
    QMap<QString, QString> txt = m_advertisedInfo;
    txt.insert(kPeerKeyTxt, m_identity.key());
    txt.insert(kPeerNameTxt, m_identity.displayName());
    m_discovery->publish(m_advertisedType, m_identity.displayName(), listeningPort(), txt);
}

void TlsPeerTransport::stopAdvertising() {
    m_advertising = false;
    if (m_discovery)
        m_discovery->unpublish();
}

void TlsPeerTransport::startBrowsing(const QString &serviceType) {
    const QString type = dnsSdServiceType(serviceType);
    if (type.isEmpty()) {
        consoleLine(QStringLiteral("Not browsing: invalid service type ") + serviceType);
        return;
    }
    stopBrowsing();
    m_browsing = true;
    if (m_discovery)
        m_discovery->browse(type);
}

void TlsPeerTransport::stopBrowsing() {
    m_browsing = false;
    if (m_discovery)
        m_discovery->stopBrowsing();
    // Like a browser that is stopped: no more reports, and a new browse
    // reports every peer afresh.
    for (const auto &[instanceId, key] : std::exchange(m_instances, {})) {
        if (Peer *p = peer(key)) {
            p->endpoints.erase(instanceId);
            if (p->endpoints.empty())
                p->found = false;
        }
    }
}

void TlsPeerTransport::addKnownPeer(const PeerHandle &handle, const QHostAddress &address, quint16 port,
                                    const QMap<QString, QString> &discoveryInfo) {
    if (!handle.isValid() || handle.key == m_identity.key())
        return;
    reportFound(peerRecord(handle), kKnownEndpoint, Endpoint{address, port}, discoveryInfo);
}

void TlsPeerTransport::onServiceResolved(const DnsSdService &service) {
    const QString key = service.txt.value(kPeerKeyTxt);
    // Not one of ours, or our own advertisement (two instances on one host
    // both look local; only the key tells them apart).
    if (key.isEmpty() || key.size() > kMaxPeerKeyLength || key == m_identity.key())
        return;
    if (auto it = m_instances.find(service.instanceId); it != m_instances.end() && it->second != key)
        onServiceRemoved(service.instanceId); // the instance now names another peer
    m_instances[service.instanceId] = key;
    QMap<QString, QString> info = service.txt;
    info.remove(kPeerKeyTxt);
    const QString name = info.take(kPeerNameTxt);
    reportFound(peerRecord(PeerHandle{key, name.isEmpty() ? service.name : name}), service.instanceId,
                Endpoint{service.address, service.port}, info);
}

void TlsPeerTransport::reportFound(Peer &p, const QString &endpointId, const Endpoint &endpoint,
                                   const QMap<QString, QString> &info) {
    p.endpoints[endpointId] = endpoint;
    p.latestEndpoint = endpointId;
    if (p.found && p.info == info)
        return;
    p.found = true;
    p.info = info;
    emit peerFound(p.handle, info);
}

void TlsPeerTransport::onServiceRemoved(const QString &instanceId) {
    const auto it = m_instances.find(instanceId);
    if (it == m_instances.end())
        return;
    const QString key = it->second;
    m_instances.erase(it);
    Peer *p = peer(key);
    if (!p)
        return;
    p->endpoints.erase(instanceId);
    if (p->endpoints.empty() && p->found) {
        p->found = false;
        emit peerLost(p->handle);
    }
}

void TlsPeerTransport::markGone(const QString &key) {
    Peer *p = peer(key);
    if (!p)
        return;
    // The advertisement may outlive its owner: a failed connection says more.
    p->endpoints.clear();
    if (p->found) {
        p->found = false;
        emit peerLost(p->handle);
    }
}

// --- Records ----------------------------------------------------------------------

TlsPeerTransport::Link *TlsPeerTransport::link(quint64 id) const {
    const auto it = m_links.find(id);
    return it == m_links.end() ? nullptr : it->second.get();
}

TlsPeerTransport::Peer *TlsPeerTransport::peer(const QString &key) const {
    const auto it = m_peers.find(key);
    return it == m_peers.end() ? nullptr : it->second.get();
}

TlsPeerTransport::Peer &TlsPeerTransport::peerRecord(const PeerHandle &handle) {
    auto &slot = m_peers[handle.key];
    if (!slot) {
        slot = std::make_unique<Peer>();
        slot->handle = handle;
        slot->inviteTimer = m_clock.createTimer();
        const QString key = handle.key;
        connect(slot->inviteTimer.get(), &ClockTimer::timeout, this, [this, key] {
            Peer *p = peer(key);
            if (!p)
                return;
            p->inviteTimer->stop();
            consoleLine(QStringLiteral("Invitation to %1 timed out").arg(p->handle.displayName));
            endInvitation(*p);
        });
    } else if (!handle.displayName.isEmpty()) {
        slot->handle.displayName = handle.displayName;
    }
    return *slot;
}

void TlsPeerTransport::forgetIdlePeers() {
    // Invitations can come from any number of made-up keys; keep only records
    // that still mean something.
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        const Peer &p = *it->second;
        const bool idle = !p.found && p.endpoints.empty() && !p.open && !p.outgoing && !p.incoming &&
                          !p.awaitingTheirInvitation && p.state == PeerConnectionState::NotConnected;
        it = idle ? m_peers.erase(it) : std::next(it);
    }
}

void TlsPeerTransport::setState(const QString &key, PeerConnectionState state) {
    Peer *p = peer(key);
    if (!p || p->state == state)
        return;
    p->state = state;
    if (state == PeerConnectionState::Connected) {
        if (!m_connectedOrder.contains(key))
            m_connectedOrder.append(key);
    } else {
        m_connectedOrder.removeAll(key);
    }
    emit peerStateChanged(p->handle, state);
}

QList<PeerHandle> TlsPeerTransport::connectedPeers() const {
    QList<PeerHandle> handles;
    for (const QString &key : m_connectedOrder)
        if (const Peer *p = peer(key))
            handles.append(p->handle);
    return handles;
}

QByteArray TlsPeerTransport::peerFingerprint(const PeerHandle &handle) const {
    const Peer *p = peer(handle.key);
    const Link *l = p && p->open ? link(p->open) : nullptr;
    return l ? l->fingerprint : QByteArray();
}

QDateTime TlsPeerTransport::lastHeard(const PeerHandle &handle) const {
    const Peer *p = peer(handle.key);
    const Link *l = p && p->open ? link(p->open) : nullptr;
    return l ? l->lastHeard : QDateTime();
}

bool TlsPeerTransport::isListening() const { return m_server && m_server->isListening(); }

quint16 TlsPeerTransport::listeningPort() const { return isListening() ? m_server->serverPort() : 0; }

int TlsPeerTransport::unacceptedConnectionCount() const {
    int count = 0;
    for (const auto &[id, l] : m_links)
        count += !l->outgoing && l->phase != Phase::Open;
    return count;
}

// --- Links ------------------------------------------------------------------------

quint64 TlsPeerTransport::addLink(QSslSocket *socket, bool outgoing, Phase phase, const QString &peerKey) {
    auto l = std::make_unique<Link>();
    const quint64 id = m_nextLinkId++;
    l->id = id;
    l->socket = socket;
    l->outgoing = outgoing;
    l->phase = phase;
    l->peerKey = peerKey;
    l->deadline = m_clock.createTimer();
    connect(l->deadline.get(), &ClockTimer::timeout, this, [this, id] { onDeadline(id); });
    m_links[id] = std::move(l);
    watchSocket(id, socket);
    return id;
}

void TlsPeerTransport::watchSocket(quint64 id, QSslSocket *socket) {
    connect(socket, &QSslSocket::readyRead, this, [this, id] { onReadable(id); });
    connect(socket, &QSslSocket::disconnected, this, [this, id] { dropLink(id, QString(), false); });
    connect(socket, &QSslSocket::errorOccurred, this, [this, id](QAbstractSocket::SocketError error) {
        Link *l = link(id);
        // An orderly close is reported through disconnected() as well.
        if (!l || error == QAbstractSocket::RemoteHostClosedError)
            return;
        // Before TLS is up the peer was not reachable as itself: treat it as gone.
        dropLink(id, l->socket ? l->socket->errorString() : QString(), l->outgoing && l->phase == Phase::Handshaking);
    });
    connect(socket, &QObject::destroyed, this, [this, id] {
        if (Link *l = link(id)) {
            l->socket = nullptr;
            dropLink(id, QString(), false);
        }
    });
}

void TlsPeerTransport::armDeadline(Link &l, int ms) {
    l.deadline->stop();
    if (ms > 0)
        l.deadline->start(ms);
}

void TlsPeerTransport::closeLink(quint64 id, bool graceful) {
    auto it = m_links.find(id);
    if (it == m_links.end())
        return;
    std::unique_ptr<Link> l = std::move(it->second);
    m_links.erase(it);
    if (Peer *p = peer(l->peerKey)) {
        if (p->open == id)
            p->open = 0;
        if (p->outgoing == id)
            p->outgoing = 0;
        if (p->incoming == id)
            p->incoming = 0;
    }
    if (QSslSocket *socket = l->socket) {
        socket->disconnect(this);
        if (graceful && socket->state() == QAbstractSocket::ConnectedState) {
            // Lets a last frame (a decline) reach the peer before the close.
            connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
            QPointer<QSslSocket> guard(socket);
            m_clock.callLater(1000, socket, [guard] {
                if (guard)
                    guard->abort();
            });
            socket->disconnectFromHost();
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }
}

void TlsPeerTransport::writeFrame(Link &l, const QByteArray &payload) {
    if (l.socket)
        l.socket->write(encodeFrame(payload));
}

// --- Incoming ---------------------------------------------------------------------

bool TlsPeerTransport::admitIncoming() const {
    if (unacceptedConnectionCount() < kMaxUnacceptedConnections)
        return true;
    consoleLine(QStringLiteral("Refused a peer connection: too many connections waiting"));
    return false;
}

void TlsPeerTransport::adoptIncoming(QSslSocket *socket) {
    for (const auto &[id, l] : m_links)
        if (l->socket == socket)
            return;
    // Small frames go out at once: waiting for more (Nagle) meets the peer's
    // delayed acknowledgement and costs tens of milliseconds per exchange.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const quint64 id = addLink(socket, false, Phase::Handshaking, QString());
    Link &l = *link(id);
    l.address = socket->peerAddress().toString();
    armDeadline(l, kHandshakeTimeoutMs);
}

void TlsPeerTransport::onPendingConnections() {
    while (m_server->hasPendingConnections()) {
        auto *socket = qobject_cast<QSslSocket *>(m_server->nextPendingConnection());
        if (!socket)
            continue;
        socket->setParent(this);
        quint64 id = 0;
        for (const auto &[linkId, l] : m_links)
            if (l->socket == socket)
                id = linkId;
        if (!id) {
            id = addLink(socket, false, Phase::Handshaking, QString());
            link(id)->address = socket->peerAddress().toString();
        }
        Link &l = *link(id);
        if (socket->peerCertificate().isNull()) {
            dropLink(id, QStringLiteral("no certificate"), false);
            continue;
        }
        l.fingerprint = socket->peerCertificate().digest(QCryptographicHash::Sha256);
        l.phase = Phase::AwaitingInvite;
        armDeadline(l, kFirstFrameTimeoutMs);
        // The invitation may have come with the handshake's last flight.
        if (socket->bytesAvailable() > 0)
            onReadable(id);
    }
}

void TlsPeerTransport::onInvitation(quint64 id, const QByteArray &payload) {
    Link *l = link(id);
    const std::optional<ControlFrame> frame = parseControlFrame(payload);
    if (!frame || frame->type != ControlFrame::Type::Invite) {
        dropLink(id, QStringLiteral("the first frame is not an invitation"), false);
        return;
    }
    // The key a peer claims is the name in its certificate: the certificate is
    // what the app pins, the key is what it addresses.
    if (frame->peer != certificateCommonName(l->socket->peerCertificate()) || frame->peer == m_identity.key()) {
        dropLink(id, QStringLiteral("the invitation does not match its certificate"), false);
        return;
    }
    if (m_peers.size() > 256)
        forgetIdlePeers();
    const QString key = frame->peer;
    Peer &p = peerRecord(PeerHandle{key, frame->name});
    l->peerKey = key;
    l->instance = frame->instance;

    if (p.open) {
        // A second connection from a connected peer. If the peer restarted, or
        // dropped the first connection without us noticing, the new one is the
        // real one; if it merely crossed ours, the tie-break keeps ours.
        Link *current = link(p.open);
        if (current && current->instance == frame->instance && current->outgoing && ownInvitationWins(p)) {
            decline(id, true);
            writeFrame(*current, {}); // a dead connection shows itself sooner
            return;
        }
        closeLink(p.open, true);
        setState(key, PeerConnectionState::NotConnected);
        // The app may have acted on that; look again.
        Peer *again = peer(key);
        if (!link(id) || !again || again->open)
            return;
    }
    Peer &q = *peer(key);
    if (q.outgoing || q.awaitingTheirInvitation) {
        // Both invited each other: keep the connection opened by the lower key,
        // on both sides alike. Our own invitation is our consent to theirs.
        if (q.outgoing && ownInvitationWins(q)) {
            decline(id, true);
            return;
        }
        if (q.outgoing)
            closeLink(q.outgoing, false);
        q.awaitingTheirInvitation = false;
        q.inviteTimer->stop();
        openLink(id);
        return;
    }
    if (q.incoming) {
        // The peer gave up its earlier invitation; the app still answers once.
        closeLink(q.incoming, false);
        q.incoming = id;
        link(id)->phase = Phase::Invited;
        armDeadline(*link(id), kUnansweredInvitationMs);
        return;
    }
    q.incoming = id;
    l = link(id);
    l->phase = Phase::Invited;
    armDeadline(*l, kUnansweredInvitationMs);
    emit invitationReceived(q.handle);
}

void TlsPeerTransport::respondToInvitation(const PeerHandle &handle, bool accept) {
    Peer *p = peer(handle.key);
    if (!p || !p->incoming)
        return;
    if (accept)
        openLink(p->incoming);
    else
        decline(p->incoming, false);
}

void TlsPeerTransport::decline(quint64 id, bool duplicate) {
    if (Link *l = link(id)) {
        ControlFrame frame;
        frame.type = ControlFrame::Type::Decline;
        frame.reason = duplicate ? ControlFrame::Reason::Duplicate : ControlFrame::Reason::Refused;
        writeFrame(*l, encodeControlFrame(frame));
    }
    closeLink(id, true);
}

bool TlsPeerTransport::ownInvitationWins(const Peer &p) const {
    // Byte order of the UTF-8 keys, the same on both sides.
    return m_identity.key().toUtf8() < p.handle.key.toUtf8();
}

// --- Outgoing ---------------------------------------------------------------------

void TlsPeerTransport::invite(const PeerHandle &handle, int timeoutMs) {
    Peer *p = peer(handle.key);
    if (!p) {
        if (!handle.isValid() || handle.key == m_identity.key())
            return;
        p = &peerRecord(handle);
    }
    if (p->open || p->outgoing || p->awaitingTheirInvitation)
        return; // connected, or already on the way
    if (p->incoming) {
        // They asked first; asking back is saying yes.
        openLink(p->incoming);
        return;
    }
    const QString key = p->handle.key;
    const auto endpoint = p->endpoints.count(p->latestEndpoint) ? p->endpoints.find(p->latestEndpoint)
                                                                 : p->endpoints.begin();
    if (endpoint == p->endpoints.end() || !isListening()) {
        consoleLine(QStringLiteral("Cannot invite %1: %2")
                        .arg(p->handle.displayName,
                             isListening() ? QStringLiteral("no known address") : QStringLiteral("no peer identity")));
        p->state = PeerConnectionState::Connecting; // so that NotConnected is reported
        setState(key, PeerConnectionState::NotConnected);
        return;
    }

    auto *socket = new QSslSocket(this);
    socket->setSslConfiguration(*m_tls);
    const quint64 id = addLink(socket, true, Phase::Handshaking, key);
    Link &l = *link(id);
    l.address = QStringLiteral("%1:%2").arg(endpoint->second.address.toString()).arg(endpoint->second.port);
    p->outgoing = id;
    connect(socket, &QSslSocket::encrypted, this, [this, id] { onOutgoingEncrypted(id); });
    connect(socket, &QSslSocket::connected, socket, [socket] { socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    armDeadline(l, kHandshakeTimeoutMs);
    p->inviteTimer->start(timeoutMs > 0 ? timeoutMs : kDefaultInviteTimeoutMs);
    const Endpoint target = endpoint->second;
    setState(key, PeerConnectionState::Connecting);
    if (Link *still = link(id); still && still->socket)
        still->socket->connectToHostEncrypted(target.address.toString(), target.port);
}

void TlsPeerTransport::onOutgoingEncrypted(quint64 id) {
    Link *l = link(id);
    if (!l || !l->socket)
        return;
    const QSslCertificate certificate = l->socket->peerCertificate();
    if (certificate.isNull() || certificateCommonName(certificate) != l->peerKey) {
        // Somebody else answers at that address now.
        dropLink(id, QStringLiteral("another peer answered"), true);
        return;
    }
    l->fingerprint = certificate.digest(QCryptographicHash::Sha256);
    l->phase = Phase::AwaitingAnswer;
    l->deadline->stop(); // the invitation's own timeout runs on
    ControlFrame frame;
    frame.type = ControlFrame::Type::Invite;
    frame.peer = m_identity.key();
    frame.name = m_identity.displayName().left(kMaxPeerNameLength);
    frame.instance = m_instance;
    writeFrame(*l, encodeControlFrame(frame));
}

void TlsPeerTransport::onAnswer(quint64 id, const QByteArray &payload) {
    Link *l = link(id);
    Peer *p = peer(l->peerKey);
    const std::optional<ControlFrame> frame = parseControlFrame(payload);
    if (!p || !frame || frame->type == ControlFrame::Type::Invite ||
        (frame->type == ControlFrame::Type::Accept && frame->peer != l->peerKey)) {
        dropLink(id, QStringLiteral("unexpected answer to an invitation"), false);
        return;
    }
    if (frame->type == ControlFrame::Type::Accept) {
        l->instance = frame->instance;
        p->inviteTimer->stop();
        openLink(id);
        return;
    }
    closeLink(id, false);
    if (frame->reason == ControlFrame::Reason::Duplicate) {
        // Their invitation to us wins the tie-break and is on its way (or here
        // already); stay Connecting until it arrives or our timeout passes.
        p->awaitingTheirInvitation = true;
        return;
    }
    p->inviteTimer->stop();
    setState(p->handle.key, PeerConnectionState::NotConnected);
}

void TlsPeerTransport::endInvitation(Peer &p) {
    p.awaitingTheirInvitation = false;
    if (p.outgoing)
        closeLink(p.outgoing, false);
    if (!p.open)
        setState(p.handle.key, PeerConnectionState::NotConnected);
}

// --- Open links -------------------------------------------------------------------

void TlsPeerTransport::openLink(quint64 id) {
    Link *l = link(id);
    Peer *p = l ? peer(l->peerKey) : nullptr;
    if (!p)
        return;
    if (!l->outgoing) {
        ControlFrame frame;
        frame.type = ControlFrame::Type::Accept;
        frame.peer = m_identity.key();
        frame.name = m_identity.displayName().left(kMaxPeerNameLength);
        frame.instance = m_instance;
        writeFrame(*l, encodeControlFrame(frame));
    }
    if (p->open && p->open != id)
        closeLink(p->open, true);
    if (p->incoming == id)
        p->incoming = 0;
    if (p->outgoing == id)
        p->outgoing = 0;
    p->open = id;
    p->awaitingTheirInvitation = false;
    p->inviteTimer->stop();
    l->phase = Phase::Open;
    l->deadline->stop();
    l->decoder.setMaxPayload(kMaxMessageBytes);
    l->lastHeard = m_clock.now();
    l->keepalive = m_clock.createTimer();
    connect(l->keepalive.get(), &ClockTimer::timeout, this, [this, id] { onKeepalive(id); });
    l->keepalive->start(kKeepaliveIntervalMs);
    setState(p->handle.key, PeerConnectionState::Connected);
}

void TlsPeerTransport::onKeepalive(quint64 id) {
    Link *l = link(id);
    if (!l)
        return;
    if (l->lastHeard.msecsTo(m_clock.now()) >= kSilenceLimitMs) {
        dropLink(id, QStringLiteral("no answer"), true);
        return;
    }
    writeFrame(*l, {});
}

bool TlsPeerTransport::send(const QByteArray &data, const QList<PeerHandle> &recipients, QString *error) {
    QStringList failures;
    if (data.isEmpty())
        failures << QStringLiteral("empty message");
    else if (data.size() > kMaxMessageBytes)
        failures << QStringLiteral("message of %1 bytes exceeds %2").arg(data.size()).arg(kMaxMessageBytes);
    else {
        const QByteArray frame = encodeFrame(data);
        for (const PeerHandle &recipient : recipients) {
            const Peer *p = peer(recipient.key);
            Link *l = p && p->open ? link(p->open) : nullptr;
            if (!l || !l->socket)
                failures << QStringLiteral("not connected to ") + recipient.displayName;
            else if (l->socket->bytesToWrite() + frame.size() > kMaxQueuedBytes)
                failures << recipient.displayName + QStringLiteral(" is not reading");
            else
                l->socket->write(frame);
        }
    }
    if (error)
        *error = failures.join(QStringLiteral("; "));
    return failures.isEmpty();
}

// --- Reading and failures ---------------------------------------------------------

void TlsPeerTransport::onReadable(quint64 id) {
    for (;;) {
        Link *l = link(id);
        // Before TLS is up the bytes belong to the handshake.
        if (!l || !l->socket || l->phase == Phase::Handshaking || l->socket->bytesAvailable() <= 0)
            return;
        const QByteArray chunk = l->socket->read(std::min<qint64>(l->decoder.missingBytes(), kReadChunkBytes));
        if (chunk.isEmpty())
            return;
        l->decoder.consume(chunk);
        if (l->decoder.status() == FrameDecoder::Status::TooLong) {
            dropLink(id, QStringLiteral("frame too long"), false);
            return;
        }
        if (l->decoder.status() == FrameDecoder::Status::FrameReady) {
            l->lastHeard = m_clock.now();
            onFrame(id, l->decoder.takeFrame());
        }
    }
}

void TlsPeerTransport::onFrame(quint64 id, const QByteArray &payload) {
    Link *l = link(id);
    switch (l->phase) {
    case Phase::AwaitingInvite:
        onInvitation(id, payload);
        break;
    case Phase::AwaitingAnswer:
        onAnswer(id, payload);
        break;
    case Phase::Invited:
        dropLink(id, QStringLiteral("data before the invitation was answered"), false);
        break;
    case Phase::Open:
        if (!payload.isEmpty()) // empty frames keep the connection alive
            if (const Peer *p = peer(l->peerKey))
                emit dataReceived(p->handle, payload);
        break;
    case Phase::Handshaking:
        break;
    }
}

void TlsPeerTransport::onDeadline(quint64 id) {
    Link *l = link(id);
    if (!l)
        return;
    l->deadline->stop();
    switch (l->phase) {
    case Phase::Handshaking:
        dropLink(id, QStringLiteral("TLS handshake timed out"), l->outgoing);
        break;
    case Phase::AwaitingInvite:
        dropLink(id, QStringLiteral("no invitation"), false);
        break;
    case Phase::Invited:
        consoleLine(QStringLiteral("Declined an unanswered invitation from ") + l->address);
        decline(id, false);
        break;
    default:
        break;
    }
}

void TlsPeerTransport::dropLink(quint64 id, const QString &why, bool peerGone) {
    Link *l = link(id);
    if (!l)
        return;
    const QString key = l->peerKey;
    const Phase phase = l->phase;
    const bool outgoing = l->outgoing;
    Peer *p = peer(key);
    const bool mattered = p && (p->open == id || p->outgoing == id);
    // An orderly close (no reason) is the app's to report, not ours.
    if (!why.isEmpty() && (mattered || phase == Phase::AwaitingInvite))
        consoleLine(QStringLiteral("Connection %1 %2 ended: %3")
                        .arg(outgoing ? QStringLiteral("to") : QStringLiteral("from"),
                             p ? p->handle.displayName : l->address, why));
    closeLink(id, false);
    if (!mattered)
        return; // a handshake, a duplicate or an unanswered invitation: nobody was told of it

    if (peerGone)
        markGone(key);
    p = peer(key);
    if (!p || p->open)
        return;
    if (outgoing && phase != Phase::Open) {
        p->inviteTimer->stop();
        p->awaitingTheirInvitation = false;
    }
    setState(key, PeerConnectionState::NotConnected);
}

void TlsPeerTransport::disconnectPeer(const PeerHandle &handle) {
    Peer *p = peer(handle.key);
    if (!p)
        return;
    p->inviteTimer->stop();
    p->awaitingTheirInvitation = false;
    if (p->outgoing)
        closeLink(p->outgoing, false);
    if (p->incoming)
        decline(p->incoming, false);
    if (p->open)
        closeLink(p->open, true);
    setState(handle.key, PeerConnectionState::NotConnected);
}

void TlsPeerTransport::disconnectAll() {
    QStringList keys;
    for (const auto &[key, p] : m_peers)
        keys << key;
    for (const QString &key : keys)
        if (const Peer *p = peer(key))
            disconnectPeer(p->handle);
}

} // namespace quillmoss
