#pragma once
// Whole devices (engine, statistics, unlock, peer manager) over one pretend
// network and one manual clock, as several installations would run them.

#include "devices/DeviceIDManager.h"
#include "devices/MultipeerManager.h"
#include "devices/PeerMessages.h"
#include "devices/PeerRelay.h"
#include "session/FocusManager.h"
#include "stats/AnalyticsManager.h"
#include "support/Fakes.h"
#include "support/InProcessTransport.h"
#include "support/ManualClock.h"
#include "unlock/EmergencyUnlockManager.h"

#include <gtest/gtest.h>

#include <memory>

namespace quillmoss::test {

// One installation. Arrange its stored preferences, then start() it.
struct Device {
    Device(InProcessNetwork &network, ManualClock &clock, const QString &name, const QString &peerKey = {},
           QByteArray fingerprint = {})
        : clock(clock), name(name),
          transport(network, peerKey.isEmpty() ? QStringLiteral("peer-") + name : peerKey, name,
                    std::move(fingerprint)) {}
    ~Device() {
        relay.setTarget(nullptr);
        peers.reset();
    }

    Device &start() {
        focus = std::make_unique<FocusManager>(FocusManager::Collaborators{
            prefs, clock, enforcement, notifications, sounds, stats, deviceIds, &relay});
        unlock = std::make_unique<EmergencyUnlockManager>(prefs, clock, relay);
        peers = std::make_unique<MultipeerManager>(
            MultipeerManager::Collaborators{prefs, clock, transport, *focus, stats, deviceIds, *unlock});
        relay.setTarget(peers.get());
        return *this;
    }
    // Stops this installation (its connections drop) and starts it again
    // over the same stored preferences and transport identity.
    void restart() {
        relay.setTarget(nullptr);
        peers.reset();
        transport.disconnectAll();
        transport.stopAdvertising();
        transport.stopBrowsing();
        unlock.reset();
        focus.reset();
        start();
    }

    QString id() const { return deviceIds.deviceID(); }
    PeerHandle handle() const { return transport.localPeer(); }
    MultipeerManager &mp() { return *peers; }
    FocusManager &engine() { return *focus; }

    ManualClock &clock;
    QString name;
    PreferencesStore prefs;
    FakeEnforcement enforcement;
    FakeNotifications notifications;
    FakeSounds sounds;
    PeerRelay relay;
    DeviceIDManager deviceIds{prefs, [n = name] { return n; }};
    AnalyticsManager stats{prefs, nullptr, clock, deviceIds};
    InProcessTransport transport;
    std::unique_ptr<FocusManager> focus;
    std::unique_ptr<EmergencyUnlockManager> unlock;
    std::unique_ptr<MultipeerManager> peers;
};

// Everything the console printed while it was held.
class ConsoleCapture {
public:
    ConsoleCapture() { ::testing::internal::CaptureStdout(); }
    ~ConsoleCapture() { take(); }
    QStringList take() {
        if (m_capturing) {
            m_capturing = false;
            const std::string out = ::testing::internal::GetCapturedStdout();
            // Assertion messages went to the capture too; give them back.
            if (::testing::Test::HasFailure()) std::fputs(out.c_str(), stdout);
            m_lines = QString::fromStdString(out).split(u'\n', Qt::SkipEmptyParts);
        }
        return m_lines;
    }

private:
    bool m_capturing = true;
    QStringList m_lines;
};

inline SessionPlan studyBreakStudy() {
    return {SessionBlock::make(BlockType::Study, 1500), SessionBlock::make(BlockType::Break, 300),
            SessionBlock::make(BlockType::Study, 1500)};
}

class PeerTest : public ::testing::Test {
protected:
    InProcessNetwork network;
    ManualClock clock;

    Device &device(const QString &name, const QString &peerKey = {}, QByteArray fingerprint = {}) {
        m_devices.push_back(std::make_unique<Device>(network, clock, name, peerKey, std::move(fingerprint)));
        return *m_devices.back();
    }
    // Runs the network until it is quiet.
    void settle() { ASSERT_TRUE(network.settle()); }
    // Lets time pass (firing delayed steps), then settles.
    void step(qint64 ms) {
        clock.advance(ms);
        settle();
    }
    // Two started devices that have linked each other by handshake.
    void link(Device &a, Device &b) {
        a.mp().addTrustedDevice(b.id(), b.name);
        settle();
        step(MultipeerManager::kSyncDelayMs);
    }
    static bool connected(Device &a, Device &b) { return a.mp().connectedPeers().contains(b.handle()); }

    std::vector<std::unique_ptr<Device>> m_devices;
};

} // namespace quillmoss::test
