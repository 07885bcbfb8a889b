#include "TransportTestSupport.h"
#include "support/ManualClock.h"

#include <QTcpServer>
#include <QTcpSocket>

using namespace quillmoss;
using namespace quillmoss::test;
using State = PeerConnectionState;

namespace {

const QMap<QString, QString> kInfoA{{QStringLiteral("deviceId"), QStringLiteral("DEVICE-A")}};
const QMap<QString, QString> kInfoB{{QStringLiteral("deviceId"), QStringLiteral("DEVICE-B")}};

class TlsPeerTransportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Key generation is the slow part; every test shares these.
        alice = new PeerIdentity(PeerIdentity::create(QStringLiteral("Alice's laptop")));
        bob = new PeerIdentity(PeerIdentity::create(QStringLiteral("Bob's desktop")));
        carol = new PeerIdentity(PeerIdentity::create(QStringLiteral("Carol's laptop")));
    }
    static void TearDownTestSuite() {
        delete alice;
        delete bob;
        delete carol;
    }

    void SetUp() override {
        a = make(*alice);
        b = make(*bob);
        ASSERT_TRUE(a->isListening() && b->isListening());
        ra = std::make_unique<TransportRecorder>(*a);
        rb = std::make_unique<TransportRecorder>(*b);
        a->addKnownPeer(b->localPeer(), QHostAddress::LocalHost, b->listeningPort(), kInfoB);
        b->addKnownPeer(a->localPeer(), QHostAddress::LocalHost, a->listeningPort(), kInfoA);
    }

    std::unique_ptr<TlsPeerTransport> make(const PeerIdentity &identity) {
        TlsPeerTransport::Options options;
        options.dnsSd = false;
        options.listenAddress = QHostAddress::LocalHost;
        return std::make_unique<TlsPeerTransport>(identity, clock, options);
    }

    PeerHandle A() const { return alice->handle(); }
    PeerHandle B() const { return bob->handle(); }

    bool connected(TlsPeerTransport &t, const PeerHandle &p) { return t.connectedPeers().contains(p); }

    void connectPair() {
        rb->invitations.clear();
        a->invite(B(), 30000);
        ASSERT_TRUE(eventually([&] { return !rb->invitations.isEmpty(); }));
        b->respondToInvitation(A(), true);
        ASSERT_TRUE(eventually([&] { return connected(*a, B()) && connected(*b, A()); }));
        rb->invitations.clear();
    }

    ManualClock clock;
    std::unique_ptr<TlsPeerTransport> a, b;
    std::unique_ptr<TransportRecorder> ra, rb;
    static inline PeerIdentity *alice = nullptr, *bob = nullptr, *carol = nullptr;
};

TEST_F(TlsPeerTransportTest, KnownPeerIsFoundWithItsInfoAndAcceptedInvitationConnectsBothSides) {
    ASSERT_EQ(ra->found.size(), 1);
    EXPECT_EQ(ra->found[0].first.key, B().key);
    EXPECT_EQ(ra->found[0].first.displayName, QStringLiteral("Bob's desktop"));
    EXPECT_EQ(ra->found[0].second, kInfoB);

    a->invite(B(), 30000);
    EXPECT_EQ(ra->statesOf(B().key), QList<State>{State::Connecting}); // reported at once
    ASSERT_TRUE(eventually([&] { return !rb->invitations.isEmpty(); }));
    EXPECT_EQ(rb->invitations[0].key, A().key);
    EXPECT_EQ(rb->invitations[0].displayName, QStringLiteral("Alice's laptop"));
    EXPECT_TRUE(rb->states.isEmpty());

    b->respondToInvitation(A(), true);
    EXPECT_EQ(rb->statesOf(A().key), QList<State>{State::Connected});
    ASSERT_TRUE(eventually([&] { return connected(*a, B()); }));
    EXPECT_EQ(ra->statesOf(B().key), (QList<State>{State::Connecting, State::Connected}));
    EXPECT_EQ(b->connectedPeers(), QList<PeerHandle>{A()});
    // Each side sees the other's certificate.
    EXPECT_EQ(a->peerFingerprint(B()), bob->fingerprint());
    EXPECT_EQ(b->peerFingerprint(A()), alice->fingerprint());
    EXPECT_EQ(a->peerFingerprint(B()).size(), 32);
    EXPECT_EQ(b->unacceptedConnectionCount(), 0);
}

TEST_F(TlsPeerTransportTest, RefusedOrUnansweredInvitationEndsNotConnected) {
    a->invite(B(), 30000);
    ASSERT_TRUE(eventually([&] { return !rb->invitations.isEmpty(); }));
    b->respondToInvitation(A(), false);
    ASSERT_TRUE(eventually([&] { return ra->lastStateOf(B().key) == State::NotConnected; }));
    EXPECT_TRUE(rb->states.isEmpty());
    EXPECT_TRUE(ra->lost.isEmpty()); // a refusal is not a vanished peer
    EXPECT_TRUE(eventually([&] { return b->unacceptedConnectionCount() == 0; }));

    // Unanswered: the inviter's timeout closes it; the late answer does nothing.
    ra->states.clear();
    a->invite(B(), 5000);
    ASSERT_TRUE(eventually([&] { return rb->invitations.size() == 2; }));
    clock.advance(4999);
    EXPECT_EQ(ra->statesOf(B().key), QList<State>{State::Connecting});
    clock.advance(1);
    EXPECT_EQ(ra->statesOf(B().key), (QList<State>{State::Connecting, State::NotConnected}));
    ASSERT_TRUE(eventually([&] { return b->unacceptedConnectionCount() == 0; }));
    b->respondToInvitation(A(), true);
    EXPECT_TRUE(rb->states.isEmpty());
    EXPECT_TRUE(b->connectedPeers().isEmpty());
}

TEST_F(TlsPeerTransportTest, InvitedSideDeclinesWhenItsAppNeverAnswers) {
    a->invite(B(), 10 * TlsPeerTransport::kUnansweredInvitationMs);
    ASSERT_TRUE(eventually([&] { return !rb->invitations.isEmpty(); }));
    clock.advance(TlsPeerTransport::kUnansweredInvitationMs);
    ASSERT_TRUE(eventually([&] { return ra->lastStateOf(B().key) == State::NotConnected; }));
    EXPECT_EQ(b->unacceptedConnectionCount(), 0);
}

TEST_F(TlsPeerTransportTest, ManyMessagesArriveInOrderBothWays) {
    connectPair();
    constexpr int kCount = 400;
    QString error;
    for (int i = 0; i < kCount; ++i) {
        // Sizes vary so that frames straddle TLS records and reads.
        const QByteArray body = QByteArray::number(i) + u':' + QByteArray(i * 37 % 5000, char('a' + i % 26));
        ASSERT_TRUE(a->send("A" + body, {B()}, &error)) << error.toStdString();
        ASSERT_TRUE(b->send("B" + body, {A()}, &error)) << error.toStdString();
    }
    ASSERT_TRUE(eventually([&] { return ra->data.size() == kCount && rb->data.size() == kCount; }));
    for (int i = 0; i < kCount; ++i) {
        const QByteArray body = QByteArray::number(i) + u':' + QByteArray(i * 37 % 5000, char('a' + i % 26));
        ASSERT_EQ(rb->data[i], std::make_pair(A().key, "A" + body)) << i;
        ASSERT_EQ(ra->data[i], std::make_pair(B().key, "B" + body)) << i;
    }
}

TEST_F(TlsPeerTransportTest, MessageAtTheCapArrivesAndOneByteMoreIsRefused) {
    connectPair();
    QByteArray largest(PeerTransport::kMaxMessageBytes, 'x');
    largest[0] = '{';
    largest[largest.size() - 1] = '}';
    QString error;
    EXPECT_TRUE(a->send(largest, {B()}, &error));
    EXPECT_FALSE(a->send(largest + 'y', {B()}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(a->send(QByteArray(), {B()}, &error)); // empty frames are keepalives
    EXPECT_TRUE(a->send("after", {B()}, &error));
    ASSERT_TRUE(eventually([&] { return rb->data.size() == 2; }));
    EXPECT_EQ(rb->data[0].second, largest);
    EXPECT_EQ(rb->data[1].second, "after");
    EXPECT_TRUE(connected(*b, A()));
}

TEST_F(TlsPeerTransportTest, SendToSomeoneNotConnectedFailsForThatRecipientOnly) {
    connectPair();
    QString error;
    EXPECT_FALSE(a->send("hi", {B(), carol->handle()}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Carol's laptop")));
    ASSERT_TRUE(eventually([&] { return rb->data.size() == 1; }));
    EXPECT_TRUE(a->send("x", {}, &error));
}

TEST_F(TlsPeerTransportTest, PlaintextAndSilentClientsAreDroppedAndBounded) {
    QTcpSocket plain;
    plain.connectToHost(QHostAddress::LocalHost, b->listeningPort());
    ASSERT_TRUE(plain.waitForConnected(10000));
    plain.write("{\"type\":\"invite\"}\r\n\r\n");
    EXPECT_TRUE(eventually([&] { return plain.state() == QAbstractSocket::UnconnectedState; }));
    ASSERT_TRUE(eventually([&] { return b->unacceptedConnectionCount() == 0; }));

    // Silent connections hold a slot until the handshake deadline; beyond the
    // bound they are refused at once.
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < TlsPeerTransport::kMaxUnacceptedConnections + 4; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, b->listeningPort());
    }
    ASSERT_TRUE(eventually([&] {
        return b->unacceptedConnectionCount() == TlsPeerTransport::kMaxUnacceptedConnections &&
               std::count_if(silent.begin(), silent.end(), [](auto &s) {
                   return s->state() == QAbstractSocket::UnconnectedState;
               }) == 4;
    }));
    clock.advance(TlsPeerTransport::kHandshakeTimeoutMs);
    EXPECT_TRUE(eventually([&] {
        return std::all_of(silent.begin(), silent.end(),
                           [](auto &s) { return s->state() == QAbstractSocket::UnconnectedState; });
    }));
    EXPECT_EQ(b->unacceptedConnectionCount(), 0);
    EXPECT_TRUE(rb->invitations.isEmpty());
    connectPair(); // still serving
}

TEST_F(TlsPeerTransportTest, BadFirstFramesAreDropped) {
    // An app message before any invitation.
    RawPeer early(*carol);
    ASSERT_TRUE(early.connectTo(b->listeningPort()));
    early.sendFrame(R"({"action":"handshake","deviceId":"X","deviceName":"Y"})");
    EXPECT_TRUE(early.closedByPeer());

    // An invitation in someone else's name.
    RawPeer liar(*carol);
    ASSERT_TRUE(liar.connectTo(b->listeningPort()));
    liar.sendInvite(A().key);
    EXPECT_TRUE(liar.closedByPeer());

    // TLS up, then nothing.
    RawPeer mute(*carol);
    ASSERT_TRUE(mute.connectTo(b->listeningPort()));
    ASSERT_TRUE(eventually([&] { return b->unacceptedConnectionCount() == 1; }));
    clock.advance(TlsPeerTransport::kFirstFrameTimeoutMs);
    EXPECT_TRUE(mute.closedByPeer());

    EXPECT_TRUE(rb->invitations.isEmpty());
}

TEST_F(TlsPeerTransportTest, GarbageOrAnOverlongFrameClosesOnlyThatConnection) {
    connectPair();
    for (const QByteArray &garbage : {QByteArray("\xff\xff\xff\xff", 4), QByteArray("\x00\x10\x00\x01", 4)}) {
        RawPeer c(*carol);
        ASSERT_TRUE(c.connectTo(b->listeningPort()));
        c.sendInvite();
        ASSERT_TRUE(eventually([&] { return !rb->invitations.isEmpty(); }));
        b->respondToInvitation(carol->handle(), true);
        const auto accept = c.nextControl();
        ASSERT_TRUE(accept && accept->type == ControlFrame::Type::Accept);
        EXPECT_EQ(accept->peer, B().key);

        c.socket.write(garbage + QByteArray(64, '\x7f'));
        EXPECT_TRUE(c.closedByPeer());
        EXPECT_TRUE(eventually([&] { return rb->lastStateOf(carol->key()) == State::NotConnected; }));
        rb->invitations.clear();
    }
    QString error;
    ASSERT_TRUE(a->send("still here", {B()}, &error));
    EXPECT_TRUE(eventually([&] { return rb->dataFrom(A().key) == QList<QByteArray>{"still here"}; }));
    EXPECT_TRUE(connected(*b, A()));
}

TEST_F(TlsPeerTransportTest, ImpostorWithAnotherCertificateShowsAnotherFingerprint) {
    // Claims Alice's key, but cannot have Alice's private key.
    const PeerIdentity impostorIdentity = PeerIdentity::create(QStringLiteral("Alice's laptop"), A().key);
    auto impostor = make(impostorIdentity);
    impostor->addKnownPeer(B(), QHostAddress::LocalHost, b->listeningPort());
    impostor->invite(B(), 30000);
    ASSERT_TRUE(eventually([&] { return !rb->invitations.isEmpty(); }));
    EXPECT_EQ(rb->invitations[0].key, A().key);
    b->respondToInvitation(A(), true);
    ASSERT_TRUE(eventually([&] { return connected(*impostor, B()); }));
    EXPECT_EQ(b->peerFingerprint(A()), impostorIdentity.fingerprint());
    EXPECT_NE(b->peerFingerprint(A()), alice->fingerprint());
}

TEST_F(TlsPeerTransportTest, CrossingInvitationsSettleOnOneConnectionWithoutFlapping) {
    for (int round = 0; round < 4; ++round) {
        ra->states.clear();
        rb->states.clear();
        // Both ask in the same turn of the event loop, in either order.
        if (round % 2) {
            a->invite(B(), 30000);
            b->invite(A(), 30000);
        } else {
            b->invite(A(), 30000);
            a->invite(B(), 30000);
        }
        ASSERT_TRUE(eventually([&] { return connected(*a, B()) && connected(*b, A()); })) << round;
        EXPECT_EQ(ra->statesOf(B().key), (QList<State>{State::Connecting, State::Connected})) << round;
        EXPECT_EQ(rb->statesOf(A().key), (QList<State>{State::Connecting, State::Connected})) << round;
        EXPECT_TRUE(ra->invitations.isEmpty() && rb->invitations.isEmpty()); // each asked: consent given
        EXPECT_EQ(a->peerFingerprint(B()), bob->fingerprint());

        // Exactly one live connection: messages arrive once, and nothing is
        // left half-open on either side.
        QString error;
        ASSERT_TRUE(a->send("ping " + QByteArray::number(round), {B()}, &error));
        ASSERT_TRUE(eventually([&] { return !rb->data.isEmpty(); }));
        EXPECT_TRUE(eventually([&] { return a->unacceptedConnectionCount() == 0 && b->unacceptedConnectionCount() == 0; }));
        clock.advance(TlsPeerTransport::kHandshakeTimeoutMs + TlsPeerTransport::kFirstFrameTimeoutMs);
        EXPECT_EQ(ra->statesOf(B().key).size(), 2);
        EXPECT_EQ(rb->data.size(), 1);
        rb->data.clear();

        a->disconnectPeer(B());
        ASSERT_TRUE(eventually([&] { return !connected(*b, A()); }));
    }
}

TEST_F(TlsPeerTransportTest, DisconnectIsReportedOnBothSides) {
    connectPair();
    a->disconnectPeer(B());
    EXPECT_EQ(ra->lastStateOf(B().key), State::NotConnected); // at once
    EXPECT_TRUE(a->peerFingerprint(B()).isEmpty());
    ASSERT_TRUE(eventually([&] { return rb->lastStateOf(A().key) == State::NotConnected; }));
    EXPECT_TRUE(b->connectedPeers().isEmpty());
    QString error;
    EXPECT_FALSE(b->send("late", {A()}, &error));

    // The other side going away entirely.
    connectPair();
    b.reset();
    EXPECT_TRUE(eventually([&] { return ra->lastStateOf(B().key) == State::NotConnected; }));
    EXPECT_TRUE(a->connectedPeers().isEmpty());
}

TEST_F(TlsPeerTransportTest, KeepalivesHoldAQuietConnectionAndASilentPeerIsDropped) {
    connectPair();
    // One keepalive period, and both sides heard each other's keepalive.
    const auto tick = [&] {
        clock.advance(TlsPeerTransport::kKeepaliveIntervalMs);
        const QDateTime now = clock.now();
        return eventually([&] { return a->lastHeard(B()) == now && b->lastHeard(A()) == now; });
    };
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(tick()) << i;
    EXPECT_EQ(ra->statesOf(B().key).last(), State::Connected);

    // A peer that stops answering: connected, then silent.
    RawPeer c(*carol);
    b->addKnownPeer(carol->handle(), QHostAddress::LocalHost, 9); // found, so that its loss is told
    ASSERT_TRUE(c.connectTo(b->listeningPort()));
    c.sendInvite();
    ASSERT_TRUE(eventually([&] { return !rb->invitations.isEmpty(); }));
    b->respondToInvitation(carol->handle(), true);
    ASSERT_TRUE(c.nextControl());
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(tick()) << i;
    EXPECT_TRUE(eventually([&] { return rb->lastStateOf(carol->key()) == State::NotConnected; }));
    EXPECT_EQ(rb->lost.size(), 1);
    EXPECT_TRUE(c.closedByPeer());
    EXPECT_TRUE(connected(*b, A()));
}

TEST_F(TlsPeerTransportTest, FailedConnectionCountsAsThePeerGone) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 deadPort = closed.serverPort();
    closed.close();
    a->addKnownPeer(carol->handle(), QHostAddress::LocalHost, deadPort, kInfoB);
    a->invite(carol->handle(), 30000);
    ASSERT_TRUE(eventually([&] { return ra->lastStateOf(carol->key()) == State::NotConnected; }));
    EXPECT_EQ(ra->statesOf(carol->key()).size(), 2);
    ASSERT_EQ(ra->lost.size(), 1);
    EXPECT_EQ(ra->lost[0].key, carol->key());

    // Without an address nothing is attempted, and the outcome is still told.
    ra->states.clear();
    a->invite(carol->handle(), 30000);
    EXPECT_EQ(ra->statesOf(carol->key()), QList<State>{State::NotConnected});
}

TEST_F(TlsPeerTransportTest, RestartedPeerReplacesItsStaleConnection) {
    connectPair();
    // Bob starts again with the same identity while the old connection still
    // looks alive to Alice (the old process is merely frozen here).
    auto bob2 = make(*bob);
    TransportRecorder r2(*bob2);
    bob2->addKnownPeer(A(), QHostAddress::LocalHost, a->listeningPort());
    bob2->invite(A(), 30000);
    ASSERT_TRUE(eventually([&] { return !ra->invitations.isEmpty(); }));
    EXPECT_EQ(ra->statesOf(B().key), (QList<State>{State::Connecting, State::Connected, State::NotConnected}));
    a->respondToInvitation(B(), true);
    ASSERT_TRUE(eventually([&] { return connected(*bob2, A()); }));
    EXPECT_EQ(ra->lastStateOf(B().key), State::Connected);
    QString error;
    ASSERT_TRUE(a->send("to the new one", {B()}, &error));
    EXPECT_TRUE(eventually([&] { return r2.data.size() == 1; }));
    EXPECT_TRUE(eventually([&] { return rb->lastStateOf(A().key) == State::NotConnected; }));
}

TEST_F(TlsPeerTransportTest, InvitingAPeerWhoseInvitationWaitsAcceptsIt) {
    b->invite(A(), 30000);
    ASSERT_TRUE(eventually([&] { return !ra->invitations.isEmpty(); }));
    a->invite(B(), 30000);
    ASSERT_TRUE(eventually([&] { return connected(*a, B()) && connected(*b, A()); }));
    EXPECT_EQ(ra->statesOf(B().key), QList<State>{State::Connected});
}

TEST_F(TlsPeerTransportTest, ServiceTypesMapToDnsSd) {
    EXPECT_EQ(TlsPeerTransport::dnsSdServiceType(QStringLiteral("quillmoss-sync")), QStringLiteral("_quillmoss-sync._tcp"));
    for (const char *bad : {"", "-sync", "sync-", "a--b", "sixteen-chars-xx", "under_score", "dot.ted"})
        EXPECT_TRUE(TlsPeerTransport::dnsSdServiceType(QString::fromLatin1(bad)).isEmpty()) << bad;
}

} // namespace
