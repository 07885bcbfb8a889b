#include "MultipeerTestRig.h"

#include <QSignalSpy>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

using LinkingTest = PeerTest;

const QString kService = MultipeerManager::kServiceType;

TrustedDeviceList storedDevices(PreferencesStore &prefs) {
    return decodeTrustedDevices(prefs.dataValue(MultipeerManager::kTrustedDevicesKey).value_or("")).value_or(
        TrustedDeviceList{});
}

} // namespace

TEST_F(LinkingTest, StartsBrowsingAndAdvertisingItsIdOnceTheMainQueueRuns) {
    Device &a = device("A").start();
    EXPECT_FALSE(a.transport.isBrowsing());
    EXPECT_FALSE(a.transport.isAdvertising());
    settle();
    EXPECT_TRUE(a.transport.isBrowsing());
    EXPECT_TRUE(a.transport.isAdvertising());
    EXPECT_EQ(a.transport.advertisedService(), "quillmoss-sync");
    EXPECT_EQ(a.transport.advertisedInfo(), (QMap<QString, QString>{{"deviceId", a.id()}}));
}

TEST_F(LinkingTest, FoundPeersAreMappedButOnlyLinkedDevicesAndTheTargetHostAreInvited) {
    Device &a = device("A");
    a.prefs.setData(MultipeerManager::kTrustedDevicesKey,
                    encodeTrustedDevices({{"T1", "Tablet", QDateTime::fromSecsSinceEpoch(0, Qt::UTC)}}));
    a.start();
    InProcessTransport anonymous(network, "k-anon", "Anon"), stranger(network, "k-s", "Stranger"),
        linked(network, "k-t", "Tablet");
    anonymous.startAdvertising(kService, {});
    stranger.startAdvertising(kService, {{"deviceId", "S1"}});
    linked.startAdvertising(kService, {{"deviceId", "T1"}});
    ConsoleCapture out;
    settle();

    EXPECT_EQ(a.mp().deviceIdOf(anonymous.localPeer()), std::nullopt);
    EXPECT_EQ(a.mp().deviceIdOf(stranger.localPeer()), "S1");
    EXPECT_EQ(a.mp().deviceIdOf(linked.localPeer()), "T1");
    EXPECT_EQ(a.transport.invitationsSent, QList<PeerHandle>{linked.localPeer()});
    EXPECT_EQ(a.mp().discoveredPeers(), QList<PeerHandle>{linked.localPeer()});
    EXPECT_EQ(out.take(), QStringList{"Found trusted device: T1, inviting..."});

    // Joining a host that was already seen invites it at once.
    a.mp().joinHost("S1");
    EXPECT_EQ(a.transport.invitationsSent.last(), stranger.localPeer());

    linked.stopAdvertising();
    settle();
    EXPECT_TRUE(a.mp().discoveredPeers().isEmpty());
    EXPECT_EQ(a.mp().deviceIdOf(linked.localPeer()), "T1"); // the mapping stays
}

TEST_F(LinkingTest, AHandshakeLinksBothDevicesAndPinsTheirCertificates) {
    Device &a = device("A").start();
    Device &b = device("B").start();
    settle();
    ConsoleCapture out;
    const QDateTime linkedAt = clock.now();
    a.mp().addTrustedDevice(b.id(), "B");
    settle();
    step(MultipeerManager::kSyncDelayMs);
    const QStringList lines = out.take();

    ASSERT_TRUE(connected(a, b) && connected(b, a));
    EXPECT_EQ(a.mp().trustedDevices(), (TrustedDeviceList{{b.id(), "B", linkedAt}}));
    ASSERT_EQ(b.mp().trustedDevices().size(), 1);
    EXPECT_EQ(b.mp().trustedDevices()[0].deviceId, a.id());
    EXPECT_EQ(b.mp().trustedDevices()[0].name, "A");
    EXPECT_EQ(storedDevices(b.prefs), b.mp().trustedDevices());
    for (Device *d : {&a, &b}) {
        EXPECT_EQ(d->transport.receivedCount("handshake"), 1);
        EXPECT_EQ(d->transport.receivedCount("syncStats"), 1);
        EXPECT_GE(d->transport.receivedCount("syncState"), 1);
    }
    EXPECT_TRUE(lines.contains("Connecting to: B") && lines.contains("Connected to: B"));
    EXPECT_TRUE(lines.contains("Connecting to: A") && lines.contains("Connected to: A"));
    EXPECT_EQ(a.mp().pinnedFingerprint(b.id()), b.transport.fingerprint());
    EXPECT_EQ(b.mp().pinnedFingerprint(a.id()), a.transport.fingerprint());
    EXPECT_EQ(decodeCertificatePins(a.prefs.dataValue(MultipeerManager::kPinsKey).value_or(""))->value(b.id()),
              b.transport.fingerprint());
    // The published form the screens read.
    const QVariantMap row = a.mp().property("trustedDevices").toList().value(0).toMap();
    EXPECT_EQ(row.value("deviceId").toString(), b.id());
    EXPECT_TRUE(row.value("isConnected").toBool());
    EXPECT_EQ(a.mp().property("connectedPeerCount").toInt(), 1);
}

TEST_F(LinkingTest, AddingALinkedDeviceAgainOrItselfChangesNothing) {
    Device &a = device("A").start();
    Device &b = device("B").start();
    settle();
    link(a, b);
    const TrustedDeviceList before = a.mp().trustedDevices();
    const auto invitations = a.transport.invitationsSent.size();
    step(60'000);
    a.mp().addTrustedDevice(b.id(), "Renamed");
    a.mp().addTrustedDevice(a.id(), "Myself");
    a.mp().addTrustedDevice(QString(), "Nobody");
    EXPECT_EQ(a.mp().trustedDevices(), before);
    EXPECT_EQ(a.transport.invitationsSent.size(), invitations);

    // Scanning the same linking code twice links once.
    Device &c = device("C").start();
    settle();
    const QString code = c.mp().qrLinkText(QRCodeData::kLinkType);
    EXPECT_TRUE(a.mp().linkDeviceFromCode(code));
    EXPECT_TRUE(a.mp().linkDeviceFromCode(code));
    EXPECT_EQ(a.mp().trustedDevices().size(), 2);
    a.mp().linkDeviceFromCode(a.mp().qrLinkText(QRCodeData::kLinkType)); // its own code
    EXPECT_FALSE(a.mp().linkDeviceFromCode(c.mp().qrLinkText(QRCodeData::kInviteType)));
    EXPECT_EQ(a.mp().trustedDevices().size(), 2);
}

TEST_F(LinkingTest, OnboardingAdoptsTheCodesUserName) {
    Device &a = device("A").start();
    Device &b = device("B");
    b.prefs.setString("userName", "Robin");
    b.start();
    settle();
    EXPECT_TRUE(a.mp().linkDeviceFromOnboardingCode(b.mp().qrLinkText(QRCodeData::kLinkType)));
    EXPECT_EQ(a.prefs.stringValue("userName"), "Robin");
    EXPECT_TRUE(a.mp().isTrusted(b.id()));
}

TEST_F(LinkingTest, RemovingAConnectedDeviceTellsItFirstAndKeepsTheConnection) {
    Device &a = device("A").start();
    Device &b = device("B").start();
    settle();
    link(a, b);
    a.mp().removeTrustedDevice(b.id());
    settle();
    const auto unlinks = b.transport.receivedOf("unlinkDevice");
    ASSERT_EQ(unlinks.size(), 1);
    EXPECT_EQ(unlinks[0].value("deviceId").toString(), a.id());
    EXPECT_TRUE(a.mp().trustedDevices().isEmpty());
    EXPECT_TRUE(storedDevices(a.prefs).isEmpty());
    EXPECT_TRUE(b.mp().trustedDevices().isEmpty());
    EXPECT_EQ(a.mp().pinnedFingerprint(b.id()), std::nullopt);
    EXPECT_TRUE(connected(a, b));
}

TEST_F(LinkingTest, RemovingAnOfflineDeviceSendsNothingAndItsNextHandshakeLinksAgain) {
    Device &a = device("A").start();
    Device &b = device("B").start();
    settle();
    link(a, b);
    network.setInRange(a.transport, b.transport, false);
    settle();
    ASSERT_FALSE(connected(a, b));
    a.mp().removeTrustedDevice(b.id());
    const auto aInvitations = a.transport.invitationsSent.size();

    network.setInRange(a.transport, b.transport, true);
    settle();
    step(MultipeerManager::kSyncDelayMs);
    EXPECT_EQ(b.transport.receivedCount("unlinkDevice"), 0);
    EXPECT_TRUE(connected(a, b));
    EXPECT_EQ(a.transport.invitationsSent.size(), aInvitations); // B did the inviting
    EXPECT_TRUE(a.mp().isTrusted(b.id()));
}

TEST_F(LinkingTest, ARenameReachesOfflineDevicesAtEveryLaterHandshake) {
    Device &a = device("A").start();
    Device &b = device("B").start();
    Device &c = device("C").start();
    settle();
    link(a, b);
    link(a, c);
    network.setInRange(a.transport, c.transport, false);
    settle();
    const QDateTime bLinkedAt = b.mp().trustedDevices()[0].dateAdded;

    QSignalSpy nameChanged(&a.mp(), &MultipeerManager::deviceNameChanged);
    a.mp().updateDeviceName("Study Mac");
    settle();
    EXPECT_GE(nameChanged.count(), 1);
    EXPECT_EQ(a.mp().deviceName(), "Study Mac");
    EXPECT_EQ(a.prefs.stringValue("customDeviceName"), "Study Mac");
    EXPECT_EQ(decodeDeviceIdSet(a.prefs.dataValue("PendingNameUpdates").value_or("")), (QSet<QString>{b.id(), c.id()}));
    EXPECT_EQ(b.mp().trustedDevices(), (TrustedDeviceList{{a.id(), "Study Mac", bLinkedAt}}));
    EXPECT_EQ(c.mp().trustedDevices()[0].name, "A");

    for (int visit = 1; visit <= 2; ++visit) {
        ConsoleCapture out;
        network.setInRange(a.transport, c.transport, true);
        settle();
        EXPECT_TRUE(out.take().contains("Sending pending name update to C"));
        EXPECT_EQ(c.mp().trustedDevices()[0].name, "Study Mac");
        EXPECT_EQ(c.transport.receivedCount("updateName"), visit);
        network.setInRange(a.transport, c.transport, false);
        settle();
    }
}

TEST_F(LinkingTest, ALinkedDeviceThatDropsIsLookedForAgainAfterTwoSeconds) {
    Device &a = device("A").start();
    Device &b = device("B").start();
    settle();
    link(a, b);
    const int browses = a.transport.browseStarts;
    ConsoleCapture out;
    network.setInRange(a.transport, b.transport, false);
    settle();
    EXPECT_TRUE(out.take().contains("Disconnected from: B"));
    EXPECT_TRUE(a.mp().connectedPeers().isEmpty());
    step(MultipeerManager::kRebrowseDelayMs - 1);
    EXPECT_EQ(a.transport.browseStarts, browses);
    step(1);
    EXPECT_EQ(a.transport.browseStarts, browses + 1);
}

TEST_F(LinkingTest, ResetAllForgetsEverythingButKeepsTheIdAndLinkedDevicesComeBack) {
    Device &a = device("A").start();
    Device &b = device("B").start();
    settle();
    link(a, b);
    a.mp().updateDeviceName("Renamed");
    const QString id = a.id();
    a.mp().resetAll();
    EXPECT_TRUE(a.mp().trustedDevices().isEmpty());
    EXPECT_TRUE(a.mp().pendingNameUpdateRecipients().isEmpty());
    EXPECT_EQ(a.mp().pinnedFingerprint(b.id()), std::nullopt);
    for (const char *key : {"TrustedDevices", "PendingNameUpdates", "customDeviceName", "TrustedDevicePins"})
        EXPECT_FALSE(a.prefs.contains(key)) << key;
    EXPECT_EQ(a.mp().deviceName(), "A");
    EXPECT_EQ(a.transport.advertisedInfo().value("deviceId"), id);
    EXPECT_TRUE(a.transport.isBrowsing());

    // B, which still trusts A, finds it again and invites it.
    settle();
    step(MultipeerManager::kRebrowseDelayMs);
    step(MultipeerManager::kSyncDelayMs);
    EXPECT_TRUE(connected(a, b));
    EXPECT_TRUE(a.mp().isTrusted(b.id()));
}

TEST_F(LinkingTest, AnUnreadableStoredListStartsEmptyAndTheNextSaveReplacesIt) {
    Device &a = device("A");
    a.prefs.setData(MultipeerManager::kTrustedDevicesKey, "[{\"deviceId\":1}");
    a.prefs.setData(MultipeerManager::kPinsKey, "{\"X\":\"not base64!\",\"Y\":7}");
    a.start();
    EXPECT_TRUE(a.mp().trustedDevices().isEmpty());
    EXPECT_EQ(a.prefs.dataValue(MultipeerManager::kTrustedDevicesKey), QByteArray("[{\"deviceId\":1}"));
    EXPECT_EQ(a.mp().pinnedFingerprint("X"), std::nullopt);
    a.mp().addTrustedDevice("D1", "Desk");
    EXPECT_EQ(storedDevices(a.prefs).size(), 1);

    a.restart();
    EXPECT_EQ(a.mp().trustedDevices(), storedDevices(a.prefs));
}

TEST_F(LinkingTest, SendingToNobodyIsSilentAndAFailedSendIsPrinted) {
    Device &a = device("A").start();
    Device &b = device("B").start();
    settle();
    {
        ConsoleCapture out;
        a.mp().send(peer::stopFocus());
        a.mp().send(peer::stopFocus(), QList<PeerHandle>{});
        a.mp().sendStopFocus();
        EXPECT_TRUE(out.take().isEmpty());
    }
    link(a, b);
    a.transport.failSendsWith = "connection reset";
    ConsoleCapture out;
    a.mp().sendSetupStatus(true);
    EXPECT_EQ(out.take(), QStringList{"Error sending message: connection reset"});
}
