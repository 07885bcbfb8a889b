#include "session/BlockingEnforcer.h"
#include "support/Fakes.h"
#include "support/ManualClock.h"

#include <gtest/gtest.h>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {
struct EnforcerFixture : ::testing::Test {
    ManualClock clock;
    FakeWorkspace workspace;
    FakeBrowserTabs browsers;
    FakeNotifications notifications;
    MacActivitySelection selection{{"allowed.app"}, {"youtube.com", "Reddit.com"}};
    std::vector<std::pair<QString, QString>> attempts;
    BlockingEnforcer enforcer{workspace,
                              browsers,
                              notifications,
                              clock,
                              [this] { return selection; },
                              [this](const QString &t, const QString &k) { attempts.emplace_back(t, k); }};
};
} // namespace

TEST_F(EnforcerFixture, HidesOnlyWhatNoExemptionCovers) {
    workspace.exempt = {"org.gnome.Nautilus"};
    workspace.add("");                        // unresolvable
    workspace.add("app.quillmoss");           // own identifier
    workspace.add("com.apple.finder");
    workspace.add("org.gnome.Nautilus");      // the desktop's file manager
    workspace.add("allowed.app");
    workspace.add("Allowed.app");             // allow-list is case-sensitive
    workspace.add("tray.agent", false);       // not regular
    workspace.add("already.hidden", true, true);
    workspace.add("game");
    auto &own = workspace.add("own.window.other.id");
    own.isOwnProcess = true;

    enforcer.applyBlocking();
    EXPECT_EQ(workspace.hidden, (QStringList{"Allowed.app", "game"}));
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[1], std::make_pair(QString("game"), QString("app")));
    EXPECT_TRUE(workspace.watching);
}

TEST_F(EnforcerFixture, LaunchesAndReshowsAreEnforcedAtOnceAndEveryPass) {
    enforcer.applyBlocking();
    workspace.launch("chat");
    EXPECT_EQ(workspace.hidden, QStringList{"chat"});
    workspace.reshow("chat");
    EXPECT_EQ(workspace.hidden, (QStringList{"chat", "chat"}));

    // Came back without a report: the one-second pass catches it.
    workspace.apps[0].isHidden = false;
    clock.advance(1000);
    EXPECT_EQ(workspace.hidden.size(), 3);

    enforcer.stopMonitoring();
    EXPECT_FALSE(enforcer.isMonitoring());
    EXPECT_FALSE(workspace.watching);
    workspace.launch("another");
    workspace.apps[0].isHidden = false;
    clock.advance(5000);
    EXPECT_EQ(workspace.hidden.size(), 3);
    EXPECT_EQ(clock.activeTimerCount(), 0);
}

TEST_F(EnforcerFixture, AllowedSetIsCapturedAtStartButBlockListIsReadEveryCheck) {
    workspace.add("notes");
    selection.appBundleIDs = {"notes"};
    enforcer.applyBlocking();
    selection.appBundleIDs = {};
    workspace.launch("notes2");
    clock.advance(1000);
    EXPECT_EQ(workspace.hidden, QStringList{"notes2"}); // "notes" stays exempt until restart
    enforcer.applyBlocking();
    EXPECT_EQ(workspace.hidden, (QStringList{"notes2", "notes"}));

    browsers.running[BrowserFamily::Firefox] = true;
    browsers.address[BrowserFamily::Firefox] = "https://example.org/";
    clock.advance(1000);
    EXPECT_TRUE(browsers.closes.empty());
    selection.webDomains = {"EXAMPLE.org"};
    clock.advance(1000);
    EXPECT_EQ(browsers.closes, std::vector<BrowserFamily>{BrowserFamily::Firefox});
}

TEST_F(EnforcerFixture, BrowserChecksFollowTheMatchRule) {
    for (auto f : {BrowserFamily::Chrome, BrowserFamily::Safari, BrowserFamily::Firefox}) browsers.running[f] = true;
    browsers.address[BrowserFamily::Chrome] = "https://www.REDDIT.com/r/all?ref=youtube.com";
    browsers.address[BrowserFamily::Safari] = std::nullopt; // read failed
    browsers.address[BrowserFamily::Firefox] = "";
    enforcer.applyBlocking();
    clock.advance(1000);

    EXPECT_EQ(browsers.reads, (std::vector<BrowserFamily>{BrowserFamily::Chrome, BrowserFamily::Safari,
                                                          BrowserFamily::Firefox}));
    EXPECT_EQ(browsers.closes, std::vector<BrowserFamily>{BrowserFamily::Chrome});
    // First entry in stored order wins, reported as stored.
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0], std::make_pair(QString("youtube.com"), QString("website")));
    ASSERT_EQ(notifications.posted.size(), 1u);
    EXPECT_EQ(notifications.posted[0].title, "Focus Mode");
    EXPECT_EQ(notifications.posted[0].body, "Site blocked by quillmoss");

    EXPECT_EQ(BlockingEnforcer::matchBlockedEntry("https://news.ycombinator.com", {"", "  "}), std::nullopt);
    EXPECT_EQ(BlockingEnforcer::matchBlockedEntry("https://reddit.org/com", {"reddit.com"}), std::nullopt);
    EXPECT_EQ(BlockingEnforcer::matchBlockedEntry("https://oldreddit.com/x", {"reddit.com"}), QString("reddit.com"));
}

TEST_F(EnforcerFixture, NothingIsReadWhenListEmptyOrBrowserNotRunning) {
    browsers.running[BrowserFamily::Chrome] = true;
    selection.webDomains = {};
    enforcer.applyBlocking();
    clock.advance(3000);
    EXPECT_TRUE(browsers.reads.empty());
    selection.webDomains = {"x.com"};
    browsers.running[BrowserFamily::Chrome] = false;
    clock.advance(3000);
    EXPECT_TRUE(browsers.reads.empty());
}

TEST_F(EnforcerFixture, SlowOrStaleReadsNeitherPileUpNorActAfterStop) {
    browsers.running[BrowserFamily::Chrome] = true;
    browsers.address[BrowserFamily::Chrome] = "youtube.com/watch";
    browsers.answerImmediately = false;
    enforcer.applyBlocking();
    clock.advance(3000);
    EXPECT_EQ(browsers.reads.size(), 1u); // still waiting for the first answer
    enforcer.stopMonitoring();
    browsers.answerPending();
    EXPECT_TRUE(browsers.closes.empty());
    EXPECT_TRUE(attempts.empty());

    enforcer.applyBlocking();
    clock.advance(1000);
    browsers.answerPending();
    EXPECT_EQ(browsers.closes.size(), 1u);
}
