#pragma once

#include "PeerIdentity.h"
#include "TlsPeerTransport.h"
#include "platform/FrameCodec.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace quillmoss::test {

// Runs the event loop until `condition` holds, for up to 10 s (network I/O on
// a loaded machine; timeouts themselves run on the manual clock).
template <typename Condition>
bool eventually(Condition condition) {
    return QTest::qWaitFor(condition, 10000);
}

// Everything a transport reported, in order.
class TransportRecorder {
public:
    explicit TransportRecorder(PeerTransport &t) {
        QObject::connect(&t, &PeerTransport::peerStateChanged, &m_context,
                         [this](const PeerHandle &p, PeerConnectionState s) { states.append({p.key, s}); });
        QObject::connect(&t, &PeerTransport::invitationReceived, &m_context,
                         [this](const PeerHandle &p) { invitations.append(p); });
        QObject::connect(&t, &PeerTransport::dataReceived, &m_context,
                         [this](const PeerHandle &p, const QByteArray &d) { data.append({p.key, d}); });
        QObject::connect(&t, &PeerTransport::peerFound, &m_context,
                         [this](const PeerHandle &p, const QMap<QString, QString> &info) { found.append({p, info}); });
        QObject::connect(&t, &PeerTransport::peerLost, &m_context, [this](const PeerHandle &p) { lost.append(p); });
    }

    QList<PeerConnectionState> statesOf(const QString &key) const {
        QList<PeerConnectionState> list;
        for (const auto &[k, s] : states)
            if (k == key)
                list.append(s);
        return list;
    }
    std::optional<PeerConnectionState> lastStateOf(const QString &key) const {
        const auto list = statesOf(key);
        return list.isEmpty() ? std::nullopt : std::optional(list.last());
    }
    QList<QByteArray> dataFrom(const QString &key) const {
        QList<QByteArray> list;
        for (const auto &[k, d] : data)
            if (k == key)
                list.append(d);
        return list;
    }

    QList<std::pair<QString, PeerConnectionState>> states;
    QList<PeerHandle> invitations;
    QList<std::pair<QString, QByteArray>> data;
    QList<std::pair<PeerHandle, QMap<QString, QString>>> found;
    QList<PeerHandle> lost;

private:
    QObject m_context;
};

// A hand-driven peer on the wire: TLS with its own certificate, then whatever
// frames or bytes the test wants to send, good or bad.
class RawPeer {
public:
    explicit RawPeer(const PeerIdentity &identity) : m_identity(identity) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setProtocol(QSsl::TlsV1_3OrLater);
        tls.setPeerVerifyMode(QSslSocket::QueryPeer);
        tls.setLocalCertificate(identity.certificate());
        tls.setPrivateKey(identity.privateKey());
        socket.setSslConfiguration(tls);
        QObject::connect(&socket, &QSslSocket::readyRead, &socket, [this] {
            const QByteArray bytes = socket.readAll();
            for (qsizetype at = 0; at < bytes.size();) {
                at += m_decoder.consume(QByteArrayView(bytes).sliced(at));
                if (m_decoder.status() == FrameDecoder::Status::FrameReady)
                    frames.append(m_decoder.takeFrame());
                else if (m_decoder.status() == FrameDecoder::Status::TooLong)
                    break;
            }
        });
    }

    bool connectTo(quint16 port) {
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        return eventually([this] { return socket.isEncrypted(); });
    }
    void sendFrame(const QByteArray &payload) { socket.write(encodeFrame(payload)); }
    void sendInvite(const QString &claimedKey = {}) {
        ControlFrame invite;
        invite.peer = claimedKey.isEmpty() ? m_identity.key() : claimedKey;
        invite.name = m_identity.displayName();
        invite.instance = QStringLiteral("raw-peer-run");
        sendFrame(encodeControlFrame(invite));
    }
    // The next control frame from the other side, if one comes.
    std::optional<ControlFrame> nextControl() {
        if (!eventually([this] { return frames.size() > m_read; }))
            return std::nullopt;
        return parseControlFrame(frames.at(m_read++));
    }
    bool closedByPeer() {
        return eventually([this] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }

    QSslSocket socket;
    QList<QByteArray> frames;

private:
    PeerIdentity m_identity;
    FrameDecoder m_decoder{PeerTransport::kMaxMessageBytes};
    qsizetype m_read = 0;
};

} // namespace quillmoss::test
