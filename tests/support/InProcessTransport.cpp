#include "support/InProcessTransport.h"

#include "platform/Clock.h"
#include "support/ManualClock.h"

#include <QCryptographicHash>
#include <QJsonDocument>

namespace quillmoss::test {

// ---- network --------------------------------------------------------------------

InProcessNetwork::~InProcessNetwork() = default;

void InProcessNetwork::post(QObject *target, std::function<void()> action) {
    ++m_pending;
    QPointer<QObject> guard(target);
    postToMainQueue(this, [this, guard, action = std::move(action)] {
        --m_pending;
        if (guard) action();
    });
}

bool InProcessNetwork::settle(int maxRounds) {
    for (int round = 0; round < maxRounds; ++round) {
        ManualClock::drainMainQueue();
        if (m_pending == 0) return true;
    }
    return false;
}

InProcessTransport *InProcessNetwork::node(const QString &key) const {
    for (auto *n : m_nodes)
        if (n->m_self.key == key) return n;
    return nullptr;
}

void InProcessNetwork::setInRange(InProcessTransport &a, InProcessTransport &b, bool inRange) {
    const QString ab = a.m_self.key + u'|' + b.m_self.key;
    const QString ba = b.m_self.key + u'|' + a.m_self.key;
    if (inRange) {
        m_apart.remove(ab);
        m_apart.remove(ba);
        if (a.seesAdvertisement(b)) b.announceTo(a);
        if (b.seesAdvertisement(a)) a.announceTo(b);
        return;
    }
    m_apart.insert(ab);
    m_apart.insert(ba);
    if (a.m_connected.contains(b.m_self.key)) a.unlink(b);
    if (a.m_browsing) post(&a, [&a, peer = b.m_self] { emit a.peerLost(peer); });
    if (b.m_browsing) post(&b, [&b, peer = a.m_self] { emit b.peerLost(peer); });
}

bool InProcessNetwork::inRange(const InProcessTransport &a, const InProcessTransport &b) const {
    return !m_apart.contains(a.m_self.key + u'|' + b.m_self.key);
}

// ---- transport ------------------------------------------------------------------

InProcessTransport::InProcessTransport(InProcessNetwork &network, const QString &key, const QString &displayName,
                                       QByteArray fingerprint)
    : m_network(network), m_self{key, displayName},
      m_fingerprint(fingerprint.isEmpty() ? QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256)
                                          : std::move(fingerprint)) {
    m_network.m_nodes.append(this);
}

InProcessTransport::~InProcessTransport() {
    disconnectAll();
    m_network.m_nodes.removeAll(this);
}

QJsonObject InProcessTransport::Delivery::json() const { return QJsonDocument::fromJson(data).object(); }
QString InProcessTransport::Delivery::action() const { return json().value(QLatin1String("action")).toString(); }

int InProcessTransport::receivedCount(const QString &action) const { return int(receivedOf(action).size()); }

QList<QJsonObject> InProcessTransport::receivedOf(const QString &action) const {
    QList<QJsonObject> out;
    for (const auto &d : received)
        if (d.action() == action) out.append(d.json());
    return out;
}

bool InProcessTransport::seesAdvertisement(const InProcessTransport &other) const {
    return &other != this && m_browsing && other.m_advertising && other.m_service == m_browseService &&
           m_network.inRange(*this, other);
}

void InProcessTransport::announceTo(InProcessTransport &browser) {
    m_network.post(&browser, [this, &browser, peer = m_self, guard = QPointer<InProcessTransport>(this)] {
        if (guard && browser.seesAdvertisement(*this)) emit browser.peerFound(peer, m_info);
    });
}

void InProcessTransport::startAdvertising(const QString &serviceType, const QMap<QString, QString> &info) {
    m_advertising = true;
    m_service = serviceType;
    m_info = info;
    for (auto *n : m_network.m_nodes)
        if (n->seesAdvertisement(*this)) announceTo(*n);
}

void InProcessTransport::stopAdvertising() {
    if (!m_advertising) return;
    for (auto *n : m_network.m_nodes)
        if (n->seesAdvertisement(*this))
            m_network.post(n, [n, peer = m_self] { emit n->peerLost(peer); });
    m_advertising = false;
}

void InProcessTransport::startBrowsing(const QString &serviceType) {
    m_browsing = true;
    m_browseService = serviceType;
    ++browseStarts;
    for (auto *n : m_network.m_nodes)
        if (seesAdvertisement(*n)) n->announceTo(*this);
}

void InProcessTransport::stopBrowsing() { m_browsing = false; }

void InProcessTransport::invite(const PeerHandle &peer, int) {
    invitationsSent.append(peer);
    InProcessTransport *target = m_network.node(peer.key);
    if (!target || !m_network.inRange(*this, *target)) {
        postState(*this, peer, PeerConnectionState::NotConnected);
        return;
    }
    m_network.post(target, [this, target, self = m_self, guard = QPointer<InProcessTransport>(this)] {
        if (!guard) return;
        target->m_pendingInvitations.insert(self.key);
        emit target->invitationReceived(self);
    });
}

void InProcessTransport::respondToInvitation(const PeerHandle &peer, bool accept) {
    if (!m_pendingInvitations.remove(peer.key)) return;
    InProcessTransport *inviter = m_network.node(peer.key);
    if (!inviter) return;
    if (!accept) {
        postState(*inviter, m_self, PeerConnectionState::NotConnected);
        return;
    }
    if (m_connected.contains(peer.key)) return; // both sides invited each other
    link(*inviter);
}

void InProcessTransport::postState(InProcessTransport &to, const PeerHandle &about, PeerConnectionState state) {
    m_network.post(&to, [&to, about, state] { emit to.peerStateChanged(about, state); });
}

void InProcessTransport::link(InProcessTransport &other) {
    m_connected.insert(other.m_self.key);
    other.m_connected.insert(m_self.key);
    postState(*this, other.m_self, PeerConnectionState::Connecting);
    postState(other, m_self, PeerConnectionState::Connecting);
    postState(*this, other.m_self, PeerConnectionState::Connected);
    postState(other, m_self, PeerConnectionState::Connected);
}

void InProcessTransport::unlink(InProcessTransport &other) {
    m_connected.remove(other.m_self.key);
    other.m_connected.remove(m_self.key);
    postState(*this, other.m_self, PeerConnectionState::NotConnected);
    postState(other, m_self, PeerConnectionState::NotConnected);
}

QList<PeerHandle> InProcessTransport::connectedPeers() const {
    QList<PeerHandle> peers;
    for (auto *n : m_network.m_nodes)
        if (m_connected.contains(n->m_self.key)) peers.append(n->m_self);
    return peers;
}

QByteArray InProcessTransport::peerFingerprint(const PeerHandle &peer) const {
    if (!m_connected.contains(peer.key)) return {};
    const InProcessTransport *n = m_network.node(peer.key);
    return n ? n->m_fingerprint : QByteArray();
}

bool InProcessTransport::send(const QByteArray &data, const QList<PeerHandle> &recipients, QString *error) {
    if (!failSendsWith.isEmpty()) {
        if (error) *error = failSendsWith;
        return false;
    }
    if (data.size() > kMaxMessageBytes) {
        if (error) *error = QStringLiteral("message too large");
        return false;
    }
    bool ok = true;
    for (const PeerHandle &r : recipients) {
        if (!m_connected.contains(r.key)) {
            if (error) *error = QStringLiteral("not connected to ") + r.displayName;
            ok = false;
            continue;
        }
        deliverRaw(r, data);
    }
    return ok;
}

void InProcessTransport::deliverRaw(const PeerHandle &to, const QByteArray &data) {
    InProcessTransport *target = m_network.node(to.key);
    if (!target) return;
    m_network.post(target, [this, target, self = m_self, data, guard = QPointer<InProcessTransport>(this)] {
        // Only what is still on a live connection arrives.
        if (!guard || !target->m_connected.contains(self.key)) return;
        target->received.append({self, data});
        emit target->dataReceived(self, data);
    });
}

void InProcessTransport::disconnectPeer(const PeerHandle &peer) {
    if (!m_connected.contains(peer.key)) return;
    if (InProcessTransport *other = m_network.node(peer.key)) unlink(*other);
}

void InProcessTransport::disconnectAll() {
    const QList<PeerHandle> peers = connectedPeers();
    for (const PeerHandle &p : peers) disconnectPeer(p);
}

} // namespace quillmoss::test
