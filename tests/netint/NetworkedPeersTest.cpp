// Linked devices over a real network: each device is a peer_harness in a
// network namespace of its own, with its own system bus and avahi-daemon,
// all joined by a bridge. Needs root; skips where namespaces cannot be made.

#include "NetLab.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <iostream>

using namespace quillmoss::netlab;

namespace {

const QString kHarness = QStringLiteral(QUILLMOSS_PEER_HARNESS);
const QString kZeroconfPeer = QStringLiteral(QUILLMOSS_ZEROCONF_PEER);

struct SessionTimes {
    bool focusing = false;
    qint64 start = 0, end = 0;
};

// "focusing 1 START END"
SessionTimes parseFocusing(const QString &line) {
    const QStringList parts = line.split(QLatin1Char(' '));
    if (parts.size() != 4) return {};
    return {parts[1] == QLatin1String("1"), parts[2].toLongLong(), parts[3].toLongLong()};
}

QStringList ids(const QJsonObject &state) {
    QStringList list;
    for (const QJsonValue &v : state.value(QLatin1String("trustedDeviceIds")).toArray()) list << v.toString();
    return list;
}

int connectedOf(const QJsonObject &state) { return state.value(QLatin1String("connectedPeers")).toInt(-1); }

class NetworkedPeersTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        if (!lab.setUp(3, &error)) {
            if (lab.namespacesRefused()) GTEST_SKIP() << "cannot make network namespaces here: " << error.toStdString();
            FAIL() << error.toStdString();
        }
    }

    std::shared_ptr<Harness> startHarness(int host, const QString &name, const QString &configHome,
                                          const QStringList &args = {}) {
        auto harness = std::make_shared<Harness>();
        started.push_back(harness);
        if (!harness->start(lab.netnsPath(host), kHarness, configHome, lab.busAddress(host), name, args))
            return nullptr;
        return harness;
    }

    // What every device said, to tell why a test failed.
    void TearDown() override {
        if (!HasFailure()) return;
        for (size_t i = 0; i < started.size(); ++i) {
            std::cerr << "--- harness " << i << " (pid " << started[i]->pid() << ")\n";
            for (const QString &line : started[i]->lines()) std::cerr << line.toStdString() << "\n";
        }
    }

    // B opens A's link; both end up trusting each other over one connection.
    void link(Harness &a, Harness &b) {
        a.send(QStringLiteral("linktext"));
        const QString text = a.next(QStringLiteral("linktext ")).mid(9);
        ASSERT_TRUE(text.startsWith(QLatin1String("quillmoss://"))) << text.toStdString();
        b.send(QStringLiteral("link ") + text);
        ASSERT_EQ(b.next(QStringLiteral("link ")), QStringLiteral("link ok"));
        const QJsonObject bState =
            b.stateWhen([&](const QJsonObject &s) { return connectedOf(s) == 1 && ids(s) == QStringList{a.deviceId()}; });
        ASSERT_EQ(ids(bState), QStringList{a.deviceId()});
        const QJsonObject aState =
            a.stateWhen([&](const QJsonObject &s) { return connectedOf(s) == 1 && ids(s) == QStringList{b.deviceId()}; });
        ASSERT_EQ(ids(aState), QStringList{b.deviceId()});
        ASSERT_EQ(connectedOf(aState), 1);
    }

    NetLab lab;
    std::vector<std::shared_ptr<Harness>> started;
};

TEST_F(NetworkedPeersTest, LinkedDevicesMirrorASessionAndItsStopWithoutRecordingIt) {
    auto a = startHarness(0, QStringLiteral("Desk A"), lab.newConfigHome());
    auto b = startHarness(1, QStringLiteral("Laptop B"), lab.newConfigHome());
    ASSERT_TRUE(a && b);

    // An independent mDNS stack on the third host reads A's record.
    const QByteArray seen = lab.runIn(2, QStringLiteral("/usr/bin/python3"),
                                      {kZeroconfPeer, QStringLiteral("browse"),
                                       QStringLiteral("_quillmoss-sync._tcp.local."), lab.address(2),
                                       QStringLiteral("2"), QStringLiteral("15")},
                                      60000);
    QJsonObject recordOfA;
    for (const QJsonValue &v : QJsonDocument::fromJson(seen).array())
        if (v[QLatin1String("txt")][QLatin1String("deviceId")].toString() == a->deviceId()) recordOfA = v.toObject();
    ASSERT_FALSE(recordOfA.isEmpty()) << seen.toStdString();
    EXPECT_EQ(recordOfA[QLatin1String("port")].toInt(), a->ready()[QLatin1String("port")].toInt());
    // Avahi also publishes the link-local IPv6 address; the transport uses the IPv4 one.
    QStringList ipv4;
    for (const QJsonValue &address : recordOfA[QLatin1String("addresses")].toArray())
        if (!address.toString().contains(QLatin1Char(':'))) ipv4 << address.toString();
    EXPECT_EQ(ipv4, QStringList{lab.address(0)}) << seen.toStdString();
    EXPECT_EQ(recordOfA[QLatin1String("txt")][QLatin1String("peer")].toString(), a->peerKey());

    ASSERT_NO_FATAL_FAILURE(link(*a, *b));
    const QJsonObject bBefore = b->state();

    a->send(QStringLiteral("start 25"));
    const SessionTimes onA = parseFocusing(a->next(QStringLiteral("focusing ")));
    const SessionTimes onB = parseFocusing(b->next(QStringLiteral("focusing ")));
    ASSERT_TRUE(onA.focusing && onB.focusing);
    EXPECT_LE(std::abs(onB.start - onA.start), 2000);
    EXPECT_LE(std::abs(onB.end - onA.end), 2000);
    EXPECT_NEAR(double(onA.end - onA.start), 25 * 60 * 1000.0, 1000);

    a->send(QStringLiteral("stop"));
    EXPECT_FALSE(parseFocusing(b->next(QStringLiteral("focusing "))).focusing);
    const QJsonObject bAfter = b->state();
    EXPECT_FALSE(bAfter[QLatin1String("isFocusing")].toBool());
    EXPECT_EQ(bAfter[QLatin1String("historyCount")], bBefore[QLatin1String("historyCount")]);
    EXPECT_EQ(bAfter[QLatin1String("sessionsCompleted")], bBefore[QLatin1String("sessionsCompleted")]);
    // The host itself keeps its record of the session.
    EXPECT_EQ(a->stateWhen([](const QJsonObject &s) { return s[QLatin1String("historyCount")].toInt() == 1; })
                  [QLatin1String("historyCount")]
                      .toInt(),
              1);
    EXPECT_EQ(connectedOf(b->state()), 1); // the stop ends the session, not the link
}

TEST_F(NetworkedPeersTest, ADeviceComingIntoRangeCatchesUpAndAStrangerLearnsNothing) {
    auto a = startHarness(0, QStringLiteral("Desk A"), lab.newConfigHome());
    const QString bHome = lab.newConfigHome();
    auto b = startHarness(1, QStringLiteral("Laptop B"), bHome);
    auto c = startHarness(2, QStringLiteral("Stranger C"), lab.newConfigHome());
    ASSERT_TRUE(a && b && c);
    ASSERT_NO_FATAL_FAILURE(link(*a, *b));
    const QString bId = b->deviceId();

    b->quit();
    ASSERT_FALSE(a->stateWhen([](const QJsonObject &s) { return connectedOf(s) == 0; }).isEmpty());
    EXPECT_EQ(connectedOf(a->state()), 0);
    a->send(QStringLiteral("start 25"));
    const SessionTimes onA = parseFocusing(a->next(QStringLiteral("focusing ")));
    ASSERT_TRUE(onA.focusing);

    // Back in range with its stored identity: it is invited and joins the session in progress.
    b = startHarness(1, QStringLiteral("Laptop B"), bHome);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->deviceId(), bId);
    const SessionTimes onB = parseFocusing(b->next(QStringLiteral("focusing ")));
    ASSERT_TRUE(onB.focusing);
    EXPECT_LE(std::abs(onB.start - onA.start), 2000);
    EXPECT_LE(std::abs(onB.end - onA.end), 2000);

    // C saw both devices and both saw C, yet nobody connected to it.
    const auto sawKey = [](Harness &h, const QString &key) {
        return waitFor([&] { return h.saw(QStringLiteral("found ") + key); }, 15000);
    };
    EXPECT_TRUE(sawKey(*c, a->peerKey()));
    EXPECT_TRUE(sawKey(*c, b->peerKey()));
    EXPECT_TRUE(sawKey(*a, c->peerKey()));
    const QJsonObject cState = c->state();
    EXPECT_EQ(connectedOf(cState), 0);
    EXPECT_FALSE(cState[QLatin1String("isFocusing")].toBool());
    EXPECT_TRUE(ids(cState).isEmpty());
    EXPECT_FALSE(c->saw(QStringLiteral("connected ")));
    EXPECT_FALSE(c->saw(QStringLiteral("Connecting to")));
    EXPECT_EQ(connectedOf(a->state()), 1);
}

TEST_F(NetworkedPeersTest, AnImpostorClaimingALinkedDevicesIdIsRefusedAndLogged) {
    auto a = startHarness(0, QStringLiteral("Desk A"), lab.newConfigHome());
    auto b = startHarness(1, QStringLiteral("Laptop B"), lab.newConfigHome());
    ASSERT_TRUE(a && b);
    ASSERT_NO_FATAL_FAILURE(link(*a, *b));

    // Another installation (its own key and certificate) that says it is A.
    auto impostor = startHarness(2, QStringLiteral("Desk A"), lab.newConfigHome(),
                                 {QStringLiteral("--device-id"), a->deviceId()});
    ASSERT_TRUE(impostor);
    ASSERT_EQ(impostor->deviceId(), a->deviceId());
    const QString refusal = b->next([&](const QString &l) {
        return l.startsWith(QLatin1String("Refusing")) && l.contains(a->deviceId());
    });
    ASSERT_FALSE(refusal.isNull());
    const QJsonObject bState = b->stateWhen([](const QJsonObject &s) { return connectedOf(s) == 1; });
    EXPECT_EQ(connectedOf(bState), 1);
    EXPECT_EQ(ids(bState), QStringList{a->deviceId()});

    // What the impostor starts does not reach B; what A starts still does.
    impostor->send(QStringLiteral("start 50"));
    ASSERT_TRUE(parseFocusing(impostor->next(QStringLiteral("focusing "))).focusing);
    // Once it knows it is cut off, whatever it sent has arrived or never will.
    EXPECT_EQ(connectedOf(impostor->stateWhen([](const QJsonObject &s) { return connectedOf(s) == 0; })), 0);
    EXPECT_FALSE(b->state()[QLatin1String("isFocusing")].toBool());
    a->send(QStringLiteral("start 25"));
    const SessionTimes onA = parseFocusing(a->next(QStringLiteral("focusing ")));
    const SessionTimes onB = parseFocusing(b->next(QStringLiteral("focusing ")));
    ASSERT_TRUE(onA.focusing && onB.focusing);
    EXPECT_LE(std::abs(onB.end - onA.end), 2000);
    EXPECT_EQ(ids(a->state()), QStringList{b->deviceId()});
}

} // namespace
