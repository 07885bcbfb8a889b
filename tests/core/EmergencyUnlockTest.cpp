#include "devices/PeerPort.h"
#include "platform/JsonDates.h"
#include "platform/PreferencesStore.h"
#include "support/ManualClock.h"
#include "unlock/EmergencyUnlockManager.h"

#include <gtest/gtest.h>

using namespace quillmoss;
using quillmoss::test::ManualClock;

namespace {

class RecordingPeers final : public PeerPort {
public:
    QList<QJsonObject> sent;
    void sendStartFocus(const QDateTime &, const QDateTime &, const QString &, const SessionPlan &) override {}
    void sendStopFocus() override {}
    void sendSetupStatus(bool) override {}
    void sendToAllConnected(const QJsonObject &message) override { sent.append(message); }
    int guestPeerCount() const override { return 0; }
};

class UnlockTest : public ::testing::Test {
protected:
    PreferencesStore prefs;
    ManualClock clock;
    RecordingPeers peers;
    std::unique_ptr<EmergencyUnlockManager> make() {
        return std::make_unique<EmergencyUnlockManager>(prefs, clock, peers);
    }
};

const QString kAvailable =
    "You can only use this ONCE a week across all your devices. Are you sure you want to unlock now?";
const QString kUsedPrefix = "You have already used your emergency unlock this week. It will reset on ";

} // namespace

TEST_F(UnlockTest, OneUseInAnySevenDays) {
    auto unlock = make();
    EXPECT_TRUE(unlock->canUnlock());
    EXPECT_EQ(unlock->currentDialogMessage(), kAvailable);
    EXPECT_FALSE(unlock->nextResetDate());

    const QDateTime used = clock.now();
    EXPECT_TRUE(unlock->unlockIfAllowed());
    EXPECT_EQ(prefs.doubleValue("emergency_unlock_timestamp"), toUnixSeconds(used));
    ASSERT_EQ(peers.sent.size(), 1);
    EXPECT_EQ(peers.sent[0]["action"].toString(), "emergencyUnlock");
    EXPECT_EQ(peers.sent[0]["timestamp"].toDouble(), toUnixSeconds(used));

    EXPECT_FALSE(unlock->unlockIfAllowed()) << "no second allowance";
    EXPECT_EQ(peers.sent.size(), 1);
    const QDateTime reset = used.addDays(7);
    EXPECT_EQ(unlock->nextResetDate(), reset);
    EXPECT_EQ(unlock->currentDialogMessage(), kUsedPrefix + EmergencyUnlockManager::formatResetDate(reset) + ".");

    clock.advance(604'800'000);
    EXPECT_FALSE(unlock->canUnlock()) << "exactly seven days is still used up";
    clock.advance(1000);
    EXPECT_TRUE(unlock->canUnlock());

    // The stored moment comes back in a later run.
    EXPECT_EQ(make()->lastUnlockDate(), used);
}

TEST_F(UnlockTest, StoredValuesMeaningNeverUsed) {
    for (double stored : {0.0, -5.0, 1e300}) {
        prefs.setDouble("emergency_unlock_timestamp", stored);
        EXPECT_FALSE(make()->lastUnlockDate()) << stored;
    }
}

TEST_F(UnlockTest, FutureUseBlocksUntilSevenDaysAfterIt) {
    auto unlock = make();
    const QDateTime ahead = clock.now().addDays(3);
    unlock->applyRemoteUnlock(ahead);
    clock.advance(qint64(9) * 86'400'000);
    EXPECT_FALSE(unlock->canUnlock());
    clock.advance(qint64(1) * 86'400'000 + 1000);
    EXPECT_TRUE(unlock->canUnlock());
}

TEST_F(UnlockTest, RemoteUsesOnlyMoveForward) {
    auto unlock = make();
    int notified = 0;
    QObject::connect(unlock.get(), &EmergencyUnlockManager::lastUnlockDateChanged, [&] { ++notified; });
    const QDateTime t = clock.now().addSecs(-3600);

    EXPECT_TRUE(unlock->handlePeerMessage({{"action", "emergencyUnlock"}, {"timestamp", toUnixSeconds(t)}}));
    EXPECT_EQ(unlock->lastUnlockDate(), t);
    EXPECT_EQ(prefs.doubleValue("emergency_unlock_timestamp"), toUnixSeconds(t));
    EXPECT_EQ(notified, 1);
    EXPECT_FALSE(unlock->canUnlock());

    unlock->applyRemoteUnlock(t.addSecs(-60));
    unlock->applyRemoteUnlock(t);
    EXPECT_EQ(unlock->lastUnlockDate(), t);
    EXPECT_EQ(notified, 1);

    EXPECT_FALSE(unlock->handlePeerMessage({{"action", "emergencyUnlock"}}));
    EXPECT_FALSE(unlock->handlePeerMessage({{"action", "emergencyUnlock"}, {"timestamp", "1772442000"}}));
    EXPECT_FALSE(unlock->handlePeerMessage({{"action", "emergencyUnlock"}, {"timestamp", 0}}));
    EXPECT_FALSE(unlock->handlePeerMessage({{"action", "stopFocus"}, {"timestamp", toUnixSeconds(t) + 10}}));
    EXPECT_EQ(unlock->lastUnlockDate(), t);
    EXPECT_TRUE(peers.sent.isEmpty()) << "receiving a use does not send one";

    unlock->applyRemoteUnlock(t.addSecs(1));
    EXPECT_EQ(unlock->lastUnlockDate(), t.addSecs(1));
    EXPECT_EQ(unlock->property("nextResetDate").toDateTime(), t.addSecs(1 + 604'800));
}

TEST_F(UnlockTest, DialogTexts) {
    EXPECT_EQ(EmergencyUnlockManager::dialogTitle(), "Emergency Unlock");
    EXPECT_EQ(EmergencyUnlockManager::dialogMessage(true, std::nullopt), kAvailable);
    EXPECT_EQ(EmergencyUnlockManager::dialogMessage(false, std::nullopt),
              "You have already used your emergency unlock this week.");
    // Noon UTC keeps the calendar day in any zone within ±11 h.
    const QDateTime noon(QDate(2026, 3, 9), QTime(12, 0), Qt::UTC);
    const QString text = EmergencyUnlockManager::formatResetDate(noon, QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(text.startsWith("Mon, Mar 9, 2026 ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(" AM") || text.endsWith(" PM")) << text.toStdString();
}
