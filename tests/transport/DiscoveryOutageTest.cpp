#include "AvahiServiceDiscovery.h"
#include "TransportTestSupport.h"
#include "support/ManualClock.h"

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

// No system bus at all: discovery says so once, keeps retrying quietly, and
// connections to known addresses are unaffected.
TEST(DiscoveryOutage, MissingSystemBusIsOneLineAndConnectionsStillWork) {
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quillmoss-test/system_bus");
    ManualClock clock;
    TlsPeerTransport::Options options;
    options.listenAddress = QHostAddress::LocalHost;
    const PeerIdentity aId = PeerIdentity::create(QStringLiteral("A"));
    const PeerIdentity bId = PeerIdentity::create(QStringLiteral("B"));

    ::testing::internal::CaptureStdout();
    QStringList lines;
    {
        TlsPeerTransport a(aId, clock, options);
        TlsPeerTransport b(bId, clock, options);
        TransportRecorder rb(b);
        a.startAdvertising(QStringLiteral("quillmoss-sync"), {{QStringLiteral("deviceId"), QStringLiteral("A")}});
        a.startBrowsing(QStringLiteral("quillmoss-sync"));
        EXPECT_TRUE(a.isAdvertising() && a.isBrowsing());
        for (int i = 0; i < 4; ++i)
            clock.advance(AvahiServiceDiscovery::kRetryMs);

        a.addKnownPeer(bId.handle(), QHostAddress::LocalHost, b.listeningPort());
        a.invite(bId.handle(), 30000);
        EXPECT_TRUE(eventually([&] { return !rb.invitations.isEmpty(); }));
        b.respondToInvitation(aId.handle(), true);
        EXPECT_TRUE(eventually([&] { return a.connectedPeers().size() == 1; }));
    }
    const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
    if (saved.isNull())
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    else
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);

    EXPECT_EQ(out.count(QStringLiteral("Local network discovery")), 1) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Local network discovery unavailable"))) << out.toStdString();
}

} // namespace
