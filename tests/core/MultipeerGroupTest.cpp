#include "MultipeerTestRig.h"

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

struct GroupTest : PeerTest {
    // A host and one of its linked devices, connected.
    Device &a = device("A").start();
    Device &b = device("B").start();

    void SetUp() override {
        settle();
        link(a, b);
    }
    void startOn(Device &d, const SessionPlan &plan = studyBreakStudy(), const QString &subject = "Maths") {
        d.engine().startSession(subject, plan, totalDuration(plan));
        settle();
    }
    // `guest` scans the host's invitation code and connects.
    void join(Device &guest, Device &host) {
        ASSERT_TRUE(guest.mp().joinSessionFromCode(host.mp().qrLinkText(QRCodeData::kInviteType)));
        settle();
        step(MultipeerManager::kSyncDelayMs);
    }
    static void expectSameSession(Device &follower, Device &host) {
        EXPECT_TRUE(follower.engine().isFocusing());
        EXPECT_EQ(follower.engine().sessionStartTime(), host.engine().sessionStartTime());
        EXPECT_EQ(follower.engine().sessionEndTime(), host.engine().sessionEndTime());
        EXPECT_EQ(follower.engine().currentSubject(), host.engine().currentSubject());
        EXPECT_EQ(follower.engine().currentBlocks(), host.engine().currentBlocks());
    }
};

} // namespace

TEST_F(GroupTest, ALinkedDeviceStartsWithTheHostsTimes) {
    step(90'000); // B's clock reading must not leak into its session
    startOn(a);
    expectSameSession(b, a);
    EXPECT_TRUE(b.enforcement.on);
    // A start while already focusing takes over the sender's session.
    step(5'000);
    b.engine().startSession("Other", studyBreakStudy(), 600);
    settle();
    expectSameSession(a, b);
}

TEST_F(GroupTest, ADeviceThatComesIntoRangeCatchesUpAndANonFocusingPeerStopsNothing) {
    network.setInRange(a.transport, b.transport, false);
    settle();
    startOn(a);
    ASSERT_FALSE(b.engine().isFocusing());
    step(120'000);

    ConsoleCapture out;
    network.setInRange(a.transport, b.transport, true);
    settle();
    step(MultipeerManager::kSyncDelayMs);
    expectSameSession(b, a);
    EXPECT_TRUE(a.engine().isFocusing());
    EXPECT_TRUE(out.take().contains("Remote peer is not focusing, but we are. Ignoring implicit stop."));
}

TEST_F(GroupTest, AStopEndsLinkedDevicesWithoutRecordingButLeavesGuestsRunning) {
    Device &g = device("G").start();
    settle();
    join(g, a);
    startOn(a);
    ASSERT_TRUE(b.engine().isFocusing() && g.engine().isFocusing());
    step(600'000);

    a.engine().endSession();
    settle();
    clock.advance(0);
    EXPECT_FALSE(b.engine().isFocusing());
    EXPECT_FALSE(b.enforcement.on);
    EXPECT_FALSE(b.prefs.contains(FocusManager::kCurrentSessionKey));
    EXPECT_TRUE(b.stats.sessionHistory().isEmpty());
    EXPECT_EQ(b.stats.lifetimeStats().totalSecondsFocused, 0);
    EXPECT_EQ(a.stats.sessionHistory().size(), 1);
    EXPECT_TRUE(g.engine().isFocusing());
    EXPECT_EQ(g.transport.receivedCount("stopFocus"), 0);

    // The guest trusts its host, so the guest's own end stops the host too.
    startOn(a);
    g.engine().endSession();
    settle();
    EXPECT_FALSE(a.engine().isFocusing());
}

TEST_F(GroupTest, ARemoteStopLeavesNothingForALaterPreviewToRecord) {
    startOn(a);
    step(300'000);
    a.engine().endSession();
    settle();
    ASSERT_FALSE(b.engine().isFocusing());

    b.engine().startPreview();
    step(60'000);
    b.engine().endSession();
    settle();
    clock.advance(0);
    EXPECT_TRUE(b.stats.sessionHistory().isEmpty());
    EXPECT_EQ(b.stats.lifetimeStats().sessionsCompleted, 0);
    EXPECT_EQ(b.stats.lifetimeStats().totalSecondsFocused, 0);
}

TEST_F(GroupTest, AnInvitationLinkPutsTheGuestInTheLobbyBeforeAnyConnection) {
    Device &host = device("Host"); // not running yet: nothing to connect to
    Device &g = device("G").start();
    settle();
    const QString invite = QRCodeData{host.id(), "Host", std::nullopt, QRCodeData::kInviteType, 1.0}.linkText();

    ConsoleCapture out;
    ASSERT_TRUE(g.mp().handleIncomingLink(invite));
    EXPECT_TRUE(g.engine().isWaitingInLobby());
    EXPECT_EQ(g.engine().lobbyHostId(), host.id());
    EXPECT_EQ(g.engine().lobbyHostName(), "Host");
    EXPECT_EQ(g.mp().targetHostId(), host.id());
    EXPECT_TRUE(g.mp().connectedPeers().isEmpty());

    host.start();
    settle();
    step(MultipeerManager::kSyncDelayMs);
    const QStringList lines = out.take();
    EXPECT_TRUE(lines.contains("Found target host: " + host.id() + ", inviting as guest..."));
    EXPECT_TRUE(lines.contains("Guest joined: G"));
    const auto handshakes = host.transport.receivedOf("handshake");
    ASSERT_EQ(handshakes.size(), 1);
    EXPECT_EQ(handshakes[0].value("isGuest"), QJsonValue(true));
    EXPECT_FALSE(g.transport.receivedOf("handshake").value(0).contains("isGuest"));
    EXPECT_EQ(host.mp().guestPeers(), QList<PeerHandle>{g.handle()});
    EXPECT_EQ(host.mp().guestPeerCount(), 1);
    EXPECT_FALSE(host.mp().isTrusted(g.id()));
    EXPECT_TRUE(g.mp().isTrusted(host.id()));
    EXPECT_EQ(g.mp().targetHostId(), std::nullopt);
    EXPECT_TRUE(g.engine().isWaitingInLobby());

    // The host's start takes the guest out of the lobby into the session.
    startOn(host);
    expectSameSession(g, host);
    EXPECT_FALSE(g.engine().isWaitingInLobby());
}

TEST_F(GroupTest, OwnInvitationCodeDoesNothing) {
    const QString own = a.mp().qrLinkText(QRCodeData::kInviteType);
    EXPECT_FALSE(a.mp().handleIncomingLink(own));
    EXPECT_FALSE(a.mp().joinSessionFromCode(own));
    EXPECT_FALSE(a.engine().isWaitingInLobby());
    EXPECT_EQ(a.mp().targetHostId(), std::nullopt);
    settle();
    EXPECT_EQ(b.transport.receivedCount("enterLobby"), 0);
    EXPECT_FALSE(a.mp().handleIncomingLink("quillmoss://qr?data=bm9wZQ%3D%3D"));
}

TEST_F(GroupTest, TheBuilderMovesLobbyGuestsInAndOutButNotThoseOfAnotherHost) {
    Device &g = device("G").start();
    settle();
    join(g, a);
    g.engine().leaveLobby();

    a.mp().sendSetupStatus(true);
    settle();
    EXPECT_TRUE(g.engine().isWaitingInLobby());
    EXPECT_EQ(g.engine().lobbyHostName(), "A");
    EXPECT_TRUE(b.engine().isWaitingInLobby());
    b.engine().enterLobby("Other host", "OTHER");

    a.mp().sendSetupStatus(false);
    settle();
    EXPECT_FALSE(g.engine().isWaitingInLobby());
    EXPECT_TRUE(b.engine().isWaitingInLobby());
    EXPECT_EQ(b.engine().lobbyHostId(), "OTHER");

    // This device's own setup status echoed back is ignored.
    b.mp().send(peer::setupStatus(true, "A", a.id()));
    b.mp().send(peer::enterLobby("A", a.id()));
    settle();
    EXPECT_FALSE(a.engine().isWaitingInLobby());
}

TEST_F(GroupTest, AGuestsLinkedDevicesWaitInTheSameLobby) {
    Device &host = device("Host").start();
    settle();
    join(b, host); // B's linked device A follows it into the lobby
    EXPECT_TRUE(a.engine().isWaitingInLobby());
    EXPECT_EQ(a.engine().lobbyHostId(), host.id());
    EXPECT_EQ(a.engine().lobbyHostName(), "Host");
}

TEST_F(GroupTest, TheHostsDisconnectionEmptiesItsLobby) {
    Device &g = device("G").start();
    settle();
    join(g, a);
    ASSERT_TRUE(g.engine().isWaitingInLobby());
    network.setInRange(a.transport, g.transport, false);
    settle();
    EXPECT_FALSE(g.engine().isWaitingInLobby());
}

TEST_F(GroupTest, LeavingTheWaitingRoomEarlyStillLetsTheHostBeReachedLater) {
    Device &host = device("Host");
    Device &g = device("G").start();
    settle();
    ASSERT_TRUE(g.mp().handleIncomingLink(
        QRCodeData{host.id(), "Host", std::nullopt, QRCodeData::kInviteType, 1.0}.linkText()));
    g.engine().leaveLobby();
    EXPECT_EQ(g.mp().targetHostId(), host.id());
    host.start();
    settle();
    EXPECT_EQ(host.mp().guestPeers(), QList<PeerHandle>{g.handle()});
}

TEST_F(GroupTest, TheEmergencyUnlockTravelsBothWaysWithoutStoppingSessions) {
    startOn(a);
    a.unlock->useEmergencyUnlock();
    settle();
    EXPECT_EQ(b.unlock->lastUnlockDate(), a.unlock->lastUnlockDate());
    EXPECT_FALSE(b.unlock->canUnlock());
    EXPECT_TRUE(b.engine().isFocusing());

    step(8LL * 24 * 3600 * 1000);
    b.unlock->useEmergencyUnlock();
    settle();
    EXPECT_EQ(a.unlock->lastUnlockDate(), clock.now());
}

TEST_F(GroupTest, ConnectingDevicesShareTheirStatistics) {
    Device &c = device("C");
    c.start();
    settle();
    startOn(c, studyBreakStudy(), "History");
    step(1800'000);
    c.engine().endSession();
    clock.advance(0);
    ASSERT_EQ(c.stats.sessionHistory().size(), 1);

    link(a, c);
    clock.advance(0);
    EXPECT_EQ(a.stats.peerStats().value(c.id()), c.stats.lifetimeStats());
    ASSERT_EQ(a.stats.sessionHistory().size(), 1);
    EXPECT_EQ(a.stats.sessionHistory()[0].id, c.stats.sessionHistory()[0].id);
}
