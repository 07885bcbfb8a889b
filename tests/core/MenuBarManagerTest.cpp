#include "app/MenuBarManager.h"
#include "devices/DeviceIDManager.h"
#include "stats/AnalyticsManager.h"
#include "support/Fakes.h"
#include "support/ManualClock.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

class FakeTray final : public TrayPort {
public:
    bool hostAvailable = true;
    bool present = false;
    int creations = 0;
    int discards = 0;
    StatusDisplay shown;

    bool isHostAvailable() const override { return hostAvailable; }
    bool exists() const override { return present; }
    void create(const StatusDisplay &d) override {
        present = true;
        ++creations;
        shown = d;
    }
    void discard() override {
        present = false;
        ++discards;
    }
    void show(const StatusDisplay &d) override { shown = d; }
};

class FakeUpdater final : public UpdaterPort {
public:
    int checks = 0;
    void checkForUpdates() override { ++checks; }
};

class FakeTaskbar final : public TaskbarPort {
public:
    bool hidden = false;
    int changes = 0;
    bool isHiddenFromTaskbar() const override { return hidden; }
    void setHiddenFromTaskbar(bool h) override {
        hidden = h;
        ++changes;
    }
};

constexpr auto Study = BlockType::Study;
constexpr auto Break = BlockType::Break;

struct MenuBarTest : ::testing::Test {
    PreferencesStore prefs;
    ManualClock clock;
    FakeEnforcement enforcement;
    FakeNotifications notifications;
    FakeSounds sounds;
    FakePeers peers;
    DeviceIDManager deviceIds{prefs, [] { return QStringLiteral("Test Machine"); }};
    AnalyticsManager stats{prefs, nullptr, clock, deviceIds};
    FocusManager engine{{prefs, clock, enforcement, notifications, sounds, stats, deviceIds, &peers}};
    AppSettings settings{prefs};
    FakeIdleInhibit idle;
    FakeTray tray;
    FakeUpdater updater;
    FakeTaskbar taskbar;
    MenuBarManager bar{{clock, engine, settings, idle, tray, updater, &taskbar}};

    void SetUp() override {
        bar.setupObservers();
        bar.startTimer();
        bar.updateStatusItem();
        ManualClock::drainMainQueue();
    }

    void start(std::initializer_list<std::pair<BlockType, double>> blocks) {
        SessionPlan plan;
        for (auto [type, seconds] : blocks) plan.append(SessionBlock::make(type, seconds));
        engine.startSession(QStringLiteral("Maths"), plan, totalDuration(plan));
        ManualClock::drainMainQueue();
    }
    // The display as a pass at this very moment computes it.
    StatusDisplay passNow() {
        bar.updateStatusItem();
        return tray.shown;
    }
};

} // namespace

TEST_F(MenuBarTest, IdleShowsTheLogoWithoutTitle) {
    EXPECT_EQ(tray.creations, 1);
    EXPECT_EQ(tray.shown, StatusDisplay{});
    EXPECT_EQ(bar.title(), "");
    EXPECT_FALSE(idle.held);
}

TEST_F(MenuBarTest, TitleIsTheTruncatedTimeLeftInTheCurrentBlock) {
    start({{Study, 1500}, {Break, 300}, {Study, 1500}});
    // An engine change refreshes at once, without waiting for the next second.
    EXPECT_EQ(tray.shown.title, " 25:00");
    EXPECT_EQ(bar.title(), " 25:00");

    clock.advance(400); // 1499.6 s left
    EXPECT_EQ(passNow(), (StatusDisplay{StatusIcon::StudyLogo, " 24:59", 24}));

    clock.advance(1440'100 - 400); // 59.9 s left
    EXPECT_EQ(passNow(), (StatusDisplay{StatusIcon::StudyLogo, " 00:59", 0}));

    clock.advance(59'900); // exactly at the boundary: the break is current
    EXPECT_EQ(passNow(), (StatusDisplay{StatusIcon::BreakCup, " 05:00", 5}));

    clock.advance(300'000); // and the next study block after it
    EXPECT_EQ(passNow(), (StatusDisplay{StatusIcon::StudyLogo, " 25:00", 25}));
}

TEST_F(MenuBarTest, MinutesAreNotCappedAndAPreviewCountsAsFocusing) {
    start({{Study, 7200}});
    EXPECT_EQ(passNow().title, " 120:00");
    EXPECT_EQ(tray.shown.minutesLeft, 120);
    engine.endSession();
    ManualClock::drainMainQueue();
    EXPECT_EQ(tray.shown, StatusDisplay{});

    engine.startPreview();
    ManualClock::drainMainQueue();
    // A preview has no plan: no current block, nothing left, the study logo.
    EXPECT_EQ(tray.shown, (StatusDisplay{StatusIcon::StudyLogo, " 00:00", 0}));
    EXPECT_TRUE(idle.held);
}

TEST_F(MenuBarTest, TheDisplayFollowsTheClockEverySecond) {
    start({{Study, 65}, {Break, 60}});
    clock.advance(5000);
    EXPECT_EQ(tray.shown.title, " 01:00");
    clock.advance(1000);
    EXPECT_EQ(tray.shown.title, " 00:59");
    clock.advance(59'000);
    EXPECT_EQ(tray.shown.icon, StatusIcon::BreakCup);
    EXPECT_EQ(tray.shown.title, " 01:00");
    clock.advance(60'000); // the plan is over: the engine ends the session
    EXPECT_FALSE(engine.isFocusing());
    EXPECT_EQ(tray.shown, StatusDisplay{});
}

TEST_F(MenuBarTest, PowerAssertionIsHeldExactlyWhileFocusingAndRetriedAfterAFailure) {
    start({{Study, 1500}});
    EXPECT_TRUE(idle.held);
    EXPECT_EQ(idle.reason, "quillmoss Focus Session");
    clock.advance(5000);
    EXPECT_EQ(idle.inhibits, 1); // kept, not asked for again

    // The desktop drops the hold and refuses the next request: every pass tries again.
    idle.failNext = true;
    idle.release();
    clock.advance(1000);
    EXPECT_FALSE(idle.held);
    EXPECT_EQ(idle.inhibits, 2);
    clock.advance(1000);
    EXPECT_TRUE(idle.held);
    EXPECT_EQ(idle.inhibits, 3);

    engine.endSession();
    ManualClock::drainMainQueue();
    EXPECT_FALSE(idle.held);
    clock.advance(3000);
    EXPECT_EQ(idle.inhibits, 3);
}

TEST_F(MenuBarTest, HiddenSettingRemovesTheItemButTheAssertionStillFollowsTheSession) {
    settings.setShowMenuBarIcon(false);
    ManualClock::drainMainQueue();
    EXPECT_FALSE(tray.present);
    start({{Study, 1500}});
    clock.advance(3000);
    EXPECT_FALSE(tray.present);
    EXPECT_EQ(tray.creations, 1);
    EXPECT_TRUE(idle.held);
    // The window title still has the time.
    EXPECT_EQ(bar.title(), " 24:57");

    settings.setShowMenuBarIcon(true);
    ManualClock::drainMainQueue();
    EXPECT_TRUE(tray.present);
    EXPECT_EQ(tray.creations, 2);
    engine.endSession();
    ManualClock::drainMainQueue();
    EXPECT_FALSE(idle.held);
}

TEST_F(MenuBarTest, AConnectedPeerHidesTheItemWhenAskedTo) {
    bar.setConnectedPeerCount(1);
    ManualClock::drainMainQueue();
    EXPECT_FALSE(tray.present);
    EXPECT_EQ(tray.discards, 1);

    bar.setConnectedPeerCount(0);
    clock.advance(1000);
    EXPECT_TRUE(tray.present);
    EXPECT_EQ(tray.creations, 2); // a fresh item with a fresh menu

    settings.setHideMenuBarWhenConnected(false);
    bar.setConnectedPeerCount(2);
    clock.advance(1000);
    EXPECT_TRUE(tray.present);
    EXPECT_EQ(tray.creations, 2);
}

TEST_F(MenuBarTest, NoTrayHostMeansNoItemUntilOneAppears) {
    tray.discard();
    tray.hostAvailable = false;
    clock.advance(3000);
    EXPECT_FALSE(tray.present);
    tray.hostAvailable = true;
    clock.advance(1000);
    EXPECT_TRUE(tray.present);
}

TEST_F(MenuBarTest, TaskbarEntryFollowsHideDockIconIncludingEditsOfTheStore) {
    EXPECT_FALSE(taskbar.hidden);
    bar.applyDockIconPolicy();
    EXPECT_EQ(taskbar.changes, 0); // already as wanted
    prefs.setBool(AppSettings::kHideDockIcon, true);
    ManualClock::drainMainQueue();
    EXPECT_TRUE(taskbar.hidden);
    prefs.setValue(QStringLiteral("unrelated"), 1);
    ManualClock::drainMainQueue();
    EXPECT_EQ(taskbar.changes, 1);
    prefs.remove(AppSettings::kHideDockIcon);
    ManualClock::drainMainQueue();
    EXPECT_FALSE(taskbar.hidden);
}

TEST_F(MenuBarTest, MenuActions) {
    QSignalSpy quit(&bar, &MenuBarManager::quitRequested);
    QSignalSpy open(&bar, &MenuBarManager::openAppRequested);
    bar.quitApp();
    bar.openApp();
    bar.checkForUpdates();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_EQ(open.count(), 1);
    EXPECT_EQ(updater.checks, 1);
}
