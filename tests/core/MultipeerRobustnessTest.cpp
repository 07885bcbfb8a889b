#include "MultipeerTestRig.h"

#include <QElapsedTimer>

#include <random>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

// A bare transport the test speaks through, with no manager behind it.
struct RawPeer {
    RawPeer(InProcessNetwork &network, const QString &key, QByteArray fingerprint = {})
        : transport(network, key, key, std::move(fingerprint)) {}
    void connectTo(Device &d) { transport.invite(d.handle(), 0); }
    void say(Device &d, const QByteArray &bytes) { transport.deliverRaw(d.handle(), bytes); }
    void say(Device &d, const QJsonObject &m) { say(d, peer::serialize(m)); }
    InProcessTransport transport;
};

struct RobustnessTest : PeerTest {
    Device &a = device("A").start();

    void SetUp() override { settle(); }
    std::unique_ptr<RawPeer> rawPeer(const QString &key, QByteArray fingerprint = {}) {
        auto raw = std::make_unique<RawPeer>(network, key, std::move(fingerprint));
        raw->connectTo(a);
        settle();
        EXPECT_TRUE(a.mp().connectedPeers().contains(raw->transport.localPeer()));
        return raw;
    }
    QJsonObject msg(const char *action, QJsonObject members = {}) {
        members.insert("action", QString::fromLatin1(action));
        return members;
    }
};

} // namespace

TEST_F(RobustnessTest, MalformedAndUnknownMessagesAreDroppedQuietly) {
    Device &b = device("B").start();
    settle();
    link(a, b);
    auto raw = rawPeer("k-raw");
    const TrustedDeviceList linked = a.mp().trustedDevices();
    const QString longText(5000, u'x');
    const QString statsText = QString::fromUtf8(LifetimeStats{100, 1, 1, 0, 0, {}}.encode());

    ConsoleCapture out;
    for (const QByteArray &bytes :
         {QByteArray("not json"), QByteArray(), QByteArray("[1,2,3]"), QByteArray("null"), QByteArray("42"),
          QByteArray("\"handshake\""), QByteArray("{}"), QByteArray("{\"action\":5}"),
          QByteArray("{\"action\":null}"), QByteArray("{\"action\":[\"handshake\"]}"),
          QByteArray("{\"action\":\"handshake\",\"deviceId\":\"X\""), QByteArray("\xff\xfe{\"action\":\"stopFocus\"}"),
          "{\"action\":\"handshake\",\"deviceId\":\"" + QByteArray(2 * 1024 * 1024, 'x') + "\",\"deviceName\":\"X\"}"})
        raw->say(a, bytes);
    for (const QJsonObject &m : {
             msg("selfDestruct", {{"deviceId", "X"}}),
             msg("handshake", {{"deviceId", 5}, {"deviceName", "X"}}),
             msg("handshake", {{"deviceId", "X"}}),
             msg("handshake", {{"deviceName", "X"}, {"userName", "Mallory"}}),
             msg("handshake", {{"deviceId", ""}, {"deviceName", "X"}}),
             msg("handshake", {{"deviceId", QString(300, u'7')}, {"deviceName", "X"}}),
             msg("handshake", {{"deviceId", "X"}, {"deviceName", longText}}),
             msg("updateName", {{"deviceId", b.id()}, {"newName", 7}}),
             msg("updateName", {{"deviceId", b.id()}, {"newName", longText}}),
             msg("updateName", {{"deviceId", "UNKNOWN"}, {"newName", "Y"}}),
             msg("enterLobby", {{"hostName", "H"}, {"hostId", 3}}),
             msg("enterLobby", {{"hostName", "H"}}),
             msg("setupStatus", {{"isSettingUp", "true"}, {"hostName", "H"}, {"hostId", "HID"}}),
             msg("setupStatus", {{"isSettingUp", true}, {"hostId", "HID"}}),
             msg("syncState", {{"isFocusing", "yes"}, {"startTime", 1}}),
             msg("syncState", {{"isFocusing", 1}}),
             msg("emergencyUnlock", {{"timestamp", "now"}}),
             msg("emergencyUnlock", {{"timestamp", -5}}),
             msg("emergencyUnlock", {{"timestamp", 1e300}}),
             msg("unlinkDevice", {{"deviceId", 5}}),
             msg("unlinkDevice", {{"deviceId", QJsonArray{b.id()}}}),
             // Statistics in another device's name from a peer that never said who it is.
             msg("syncStats", {{"deviceId", "FORGED"}, {"lifetimeStats", statsText}, {"history", "[]"}}),
         })
        raw->say(a, m);
    settle();
    clock.advance(0);

    EXPECT_TRUE(out.take().isEmpty());
    EXPECT_EQ(a.mp().trustedDevices(), linked);
    EXPECT_FALSE(a.engine().isWaitingInLobby());
    EXPECT_FALSE(a.engine().isFocusing());
    EXPECT_EQ(a.unlock->lastUnlockDate(), std::nullopt);
    EXPECT_EQ(a.stats.peerStats().keys(), QStringList{b.id()});
    EXPECT_TRUE(a.mp().guestPeers().isEmpty());
    EXPECT_EQ(a.mp().deviceIdOf(raw->transport.localPeer()), std::nullopt);
    EXPECT_FALSE(a.prefs.contains("userName"));
    EXPECT_TRUE(a.mp().connectedPeers().contains(raw->transport.localPeer()));
}

TEST_F(RobustnessTest, APeerClaimingAPinnedDeviceWithAnotherCertificateIsRefusedUnheard) {
    Device &b = device("B").start();
    settle();
    link(a, b);
    a.engine().startSession("Maths", studyBreakStudy(), 3300);
    settle();
    auto impostor = rawPeer("k-impostor", "forged certificate");

    ConsoleCapture out;
    impostor->say(a, peer::handshake(b.id(), "B", std::nullopt, false));
    impostor->say(a, peer::stopFocus());
    impostor->say(a, peer::unlinkDevice(b.id()));
    impostor->say(a, peer::updateName(b.id(), "Evil"));
    settle();
    const QStringList lines = out.take();

    EXPECT_EQ(lines.filter("Refusing k-impostor: it claims device " + b.id()).size(), 1);
    EXPECT_FALSE(a.mp().connectedPeers().contains(impostor->transport.localPeer()));
    EXPECT_EQ(a.mp().deviceIdOf(impostor->transport.localPeer()), std::nullopt);
    EXPECT_TRUE(a.engine().isFocusing());
    EXPECT_EQ(a.mp().trustedDevices().value(0).name, "B");
    EXPECT_EQ(a.mp().pinnedFingerprint(b.id()), b.transport.fingerprint());

    // It is not let back in, while the real device carries on.
    impostor->connectTo(a);
    settle();
    EXPECT_FALSE(a.mp().connectedPeers().contains(impostor->transport.localPeer()));
    EXPECT_TRUE(connected(a, b));
    EXPECT_EQ(a.mp().deviceIdOf(b.handle()), b.id());

    // Unlinking the device forgets its certificate: a reinstalled device can
    // be linked again.
    a.mp().removeTrustedDevice(b.id());
    EXPECT_EQ(a.mp().pinnedFingerprint(b.id()), std::nullopt);
    impostor->connectTo(a);
    settle();
    impostor->say(a, peer::handshake(b.id(), "B", std::nullopt, false));
    settle();
    EXPECT_EQ(a.mp().deviceIdOf(impostor->transport.localPeer()), b.id());
}

TEST_F(RobustnessTest, AnImpostorFoundByDiscoveryIsRefusedOnceAndNotInvitedAgain) {
    Device &b = device("B").start();
    settle();
    link(a, b);
    network.setInRange(a.transport, b.transport, false);
    settle();

    Device &impostor = device("B", "k-impostor", "forged certificate");
    impostor.prefs.setString(DeviceIDManager::kDeviceIdKey, b.id());
    impostor.start();
    settle();
    step(MultipeerManager::kSyncDelayMs);
    EXPECT_FALSE(connected(a, impostor));
    EXPECT_EQ(a.mp().deviceIdOf(impostor.handle()), std::nullopt);
    EXPECT_FALSE(a.mp().discoveredPeers().contains(impostor.handle()));

    step(5 * MultipeerManager::kRebrowseDelayMs); // re-browsing for the dropped B finds it again
    EXPECT_EQ(a.transport.invitationsSent.count(impostor.handle()), 1);
    EXPECT_FALSE(connected(a, impostor));
}

TEST_F(RobustnessTest, OneConnectionStandsForOneDevice) {
    auto raw = rawPeer("k-raw");
    const QString stats = QString::fromUtf8(LifetimeStats{60, 1, 1, 0, 0, {}}.encode());
    ConsoleCapture out;
    raw->say(a, peer::handshake("X0", "Tablet", std::nullopt, false));
    for (int i = 1; i <= 200; ++i) raw->say(a, peer::handshake(QStringLiteral("X%1").arg(i), "Tablet", {}, false));
    // Totals are taken only in the name the handshake gave.
    for (int i = 0; i <= 200; ++i)
        raw->say(a, msg("syncStats", {{"deviceId", QStringLiteral("X%1").arg(i)}, {"lifetimeStats", stats},
                                      {"history", "[]"}}));
    settle();
    clock.advance(0);
    const QStringList lines = out.take();
    EXPECT_EQ(a.mp().trustedDevices().size(), 1);
    EXPECT_EQ(a.mp().deviceIdOf(raw->transport.localPeer()), "X0");
    EXPECT_EQ(lines.filter("Ignoring handshake from k-raw: this connection already belongs to device X0").size(), 200);
    EXPECT_EQ(a.stats.peerStats().keys(), QStringList{"X0"});

    // A handshake claiming this device's own id is not taken.
    auto echo = rawPeer("k-echo");
    echo->say(a, peer::handshake(a.id(), "A", std::nullopt, false));
    settle();
    EXPECT_EQ(a.mp().deviceIdOf(echo->transport.localPeer()), std::nullopt);
    EXPECT_FALSE(a.mp().isTrusted(a.id()));
}

TEST_F(RobustnessTest, StrangersCannotMakeTheListsGrowWithoutBound) {
    ConsoleCapture out;
    std::vector<std::unique_ptr<InProcessTransport>> advertisers;
    for (int i = 0; i < MultipeerManager::kMaxPeerMappings + 44; ++i) {
        advertisers.push_back(std::make_unique<InProcessTransport>(network, QStringLiteral("k-adv%1").arg(i), "Adv"));
        advertisers.back()->startAdvertising(MultipeerManager::kServiceType,
                                             {{"deviceId", QStringLiteral("ADV%1").arg(i)}});
    }
    settle();
    const auto mapped = std::count_if(advertisers.begin(), advertisers.end(),
                                      [&](auto &t) { return a.mp().deviceIdOf(t->localPeer()).has_value(); });
    EXPECT_EQ(mapped, MultipeerManager::kMaxPeerMappings);
    EXPECT_TRUE(a.mp().deviceIdOf(advertisers.back()->localPeer())); // the newest are kept

    std::vector<std::unique_ptr<RawPeer>> guests, linkers;
    for (int i = 0; i < MultipeerManager::kMaxGuestPeers + 6; ++i) {
        guests.push_back(rawPeer(QStringLiteral("k-guest%1").arg(i)));
        guests.back()->say(a, peer::handshake(QStringLiteral("G%1").arg(i), "Guest", std::nullopt, true));
    }
    for (int i = 0; i < MultipeerManager::kMaxTrustedDevices + 6; ++i) {
        linkers.push_back(rawPeer(QStringLiteral("k-link%1").arg(i)));
        linkers.back()->say(a, peer::handshake(QStringLiteral("L%1").arg(i), "Linker", std::nullopt, false));
    }
    // Each reports totals in the name it announced.
    for (int i = 0; i < int(guests.size()); ++i)
        guests[i]->say(a, peer::syncStats(QStringLiteral("G%1").arg(i), LifetimeStats{}, {}));
    for (int i = 0; i < int(linkers.size()); ++i)
        linkers[i]->say(a, peer::syncStats(QStringLiteral("L%1").arg(i), LifetimeStats{}, {}));
    settle();
    EXPECT_EQ(a.mp().guestPeers().size(), MultipeerManager::kMaxGuestPeers);
    EXPECT_EQ(a.mp().trustedDevices().size(), MultipeerManager::kMaxTrustedDevices);
    clock.advance(0);
    EXPECT_EQ(a.stats.peerStats().size(), MultipeerManager::kMaxStatsReporters);
    const QStringList lines = out.take();
    EXPECT_EQ(lines.filter("Not adding guest Guest: too many guests connected").size(), 6);
    const QString full = QStringLiteral("already linked to %1 devices").arg(MultipeerManager::kMaxTrustedDevices);
    EXPECT_EQ(lines.filter(full).size(), 6);

    // Guests that have left make room for new ones.
    guests.front()->transport.disconnectAll();
    settle();
    auto late = rawPeer("k-late");
    late->say(a, peer::handshake("LATE", "Late", std::nullopt, true));
    settle();
    EXPECT_EQ(a.mp().guestPeers().size(), MultipeerManager::kMaxGuestPeers);
    EXPECT_TRUE(a.mp().guestPeers().contains(late->transport.localPeer()));
    EXPECT_FALSE(a.mp().guestPeers().contains(guests.front()->transport.localPeer()));
}

namespace {

// Random JSON shaped like the messages: known actions, known member names,
// values of every type, some of them meaningful.
class MessageFuzzer {
public:
    MessageFuzzer(quint32 seed, QStringList interesting) : m_rng(seed), m_interesting(std::move(interesting)) {}

    QJsonObject message() {
        static const char *actions[] = {"handshake",   "syncState",    "startFocus",      "stopFocus",
                                        "enterLobby",  "setupStatus",  "updateName",      "unlinkDevice",
                                        "emergencyUnlock", "syncStats"};
        static const char *members[] = {"deviceId", "deviceName", "userName",     "isGuest",  "isFocusing",
                                        "startTime", "endTime",   "subject",      "blocks",   "hostName",
                                        "hostId",    "isSettingUp", "newName",    "timestamp", "lifetimeStats",
                                        "history"};
        QJsonObject m;
        for (const char *member : members)
            if (pick(3) == 0) m.insert(QLatin1String(member), value(0));
        m.insert("action", pick(10) == 0 ? value(0) : QJsonValue(QLatin1String(actions[pick(10)])));
        return m;
    }
    QByteArray bytes() {
        QByteArray data = peer::serialize(message());
        if (pick(8) == 0) data.truncate(pick(int(data.size()) + 1));
        return data;
    }
    int pick(int n) { return int(m_rng() % quint32(n)); }

private:
    QJsonValue value(int depth) {
        static const double numbers[] = {0, -1, 1.5, 1e300, -1e300, 4e9, 1.7e9, 2e12, 9.9e12, 1e13};
        switch (pick(depth < 2 ? 9 : 7)) {
        case 0: return QJsonValue::Null;
        case 1: return bool(pick(2));
        case 2: return double(qint32(m_rng()));
        case 3: return numbers[pick(10)];
        case 4: return m_interesting[pick(int(m_interesting.size()))];
        case 5: {
            QString s;
            for (int i = pick(64); i > 0; --i) s.append(QChar(char16_t(1 + pick(0xD7FF))));
            return s;
        }
        case 6: return QString(1000 + pick(6000), u'x');
        case 7: {
            QJsonArray array;
            for (int i = pick(4); i > 0; --i) array.append(value(depth + 1));
            return array;
        }
        default: {
            QJsonObject object;
            for (int i = pick(4); i > 0; --i) object.insert(QStringLiteral("k%1").arg(i), value(depth + 1));
            return object;
        }
        }
    }

    std::mt19937 m_rng;
    QStringList m_interesting;
};

} // namespace

TEST_F(RobustnessTest, RandomMessagesNeverBreakTheManager) {
    Device &b = device("B").start();
    settle();
    link(a, b);
    SessionPlan negative = studyBreakStudy();
    negative[1].duration = -300;
    const QStringList interesting{a.id(),
                                  b.id(),
                                  "X1",
                                  "G1",
                                  "User",
                                  "",
                                  QString::fromUtf8(encodePlan(studyBreakStudy())),
                                  QString::fromUtf8(encodePlan(negative)),
                                  QString::fromUtf8(LifetimeStats{3600, 2, 3, 4, 1, {}}.encode()),
                                  QString::fromUtf8(encodeHistory({SessionHistoryItem{
                                      QUuid::createUuid(), clock.now(), 60, "Maths", "X1"}}))};
    const quint32 seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    MessageFuzzer fuzz(seed, interesting);

    std::vector<std::unique_ptr<RawPeer>> raws;
    raws.push_back(rawPeer("k-linked"));
    raws.back()->say(a, peer::handshake("X1", "Linked", std::nullopt, false));
    raws.push_back(rawPeer("k-guest"));
    raws.back()->say(a, peer::handshake("G1", "Guest", std::nullopt, true));
    raws.push_back(rawPeer("k-silent"));

    ConsoleCapture out; // the managers talk a lot; none of it matters here
    QElapsedTimer elapsed;
    elapsed.start();
    int sent = 0;
    while (elapsed.elapsed() < 4000 && sent < 20'000) {
        for (int i = 0; i < 25; ++i, ++sent) {
            RawPeer &raw = *raws[fuzz.pick(int(raws.size()))];
            raw.say(a, fuzz.bytes());
        }
        ASSERT_TRUE(network.settle());
        if (fuzz.pick(4) == 0) clock.advance(fuzz.pick(3000));
        for (auto &raw : raws)
            if (!a.mp().connectedPeers().contains(raw->transport.localPeer())) raw->connectTo(a);
        ASSERT_TRUE(network.settle());

        ASSERT_LE(a.mp().trustedDevices().size(), MultipeerManager::kMaxTrustedDevices);
        ASSERT_LE(a.mp().guestPeers().size(), 3);
        // Only the ids the three connections (and B) announced can hold totals.
        ASSERT_LE(a.stats.peerStats().size(), 4);
        ASSERT_LE(a.stats.sessionHistory().size(), AnalyticsManager::kMergedHistoryLimit);
    }
    EXPECT_GT(sent, 500);
}
