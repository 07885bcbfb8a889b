// Blocking enforcement with the real X11 adapter: the core's rules decide,
// the adapter iconifies, and real windows on a private display show it.
#include "X11DesktopTest.h"

#include "session/BlockingEnforcer.h"
#include "support/Fakes.h"
#include "support/ManualClock.h"

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

using X11EnforcementTest = X11DesktopTest;

TEST_F(X11EnforcementTest, HidesDisallowedApplicationsAtLaunchAndWhenShownAgainUntilStopped) {
    startWindowManager();
    auto ws = workspace();
    display.launch({"xterm"}); // allowed
    testWindow({"--class", "panel,Panel", "--type", "dock"});
    testWindow({"--class", "palette,Palette", "--type", "utility"});
    testWindow({"--class", "tray,Tray", "--skip-taskbar"});
    testWindow({"--class", "before,Before"}); // not allowed, running before the block
    const uint32_t own = display.createOwnWindow("QuillmossTest");
    ASSERT_TRUE(waitUntil([&] { return ws->runningApplications().size() == 6; }))
        << describe(ws->runningApplications());

    // The clock never moves: the one-second pass never runs, so whatever is
    // hidden below was hidden by the launch reports.
    ManualClock clock;
    FakeBrowserTabs browsers;
    FakeNotifications notifications;
    QStringList attempts;
    BlockingEnforcer enforcer(
        *ws, browsers, notifications, clock, [] { return MacActivitySelection{{"XTerm"}, {}}; },
        [&](const QString &target, const QString &kind) { attempts.append(target + "/" + kind); });

    enforcer.applyBlocking();
    EXPECT_TRUE(ws->isWatching());
    const uint32_t before = waitForWindow("Before");
    ASSERT_TRUE(waitUntil([&] { return display.isIconic(before); }));

    testWindow({"--class", "late,Late"});
    const uint32_t late = waitForWindow("Late");
    ASSERT_TRUE(waitUntil([&] { return display.isIconic(late); })) << "not hidden at launch";
    settle();
    display.activate(late);
    ASSERT_TRUE(waitUntil([&] { return attempts.count("Late/app") == 2 && display.isIconic(late); }))
        << "not hidden again when shown";

    for (const char *untouched : {"XTerm", "Panel", "Palette", "Tray"})
        EXPECT_FALSE(display.isIconic(waitForWindow(untouched))) << untouched;
    EXPECT_FALSE(display.isIconic(own));
    EXPECT_EQ(attempts, (QStringList{"Before/app", "Late/app", "Late/app"}));

    enforcer.stopMonitoring();
    EXPECT_FALSE(ws->isWatching());
    testWindow({"--class", "after,After"});
    ASSERT_TRUE(waitForApp(*ws, "After"));
    display.activate(late);
    ASSERT_TRUE(waitUntil([&] { return !display.isIconic(late); }));
    settle();
    EXPECT_FALSE(display.isIconic(waitForWindow("After")));
    EXPECT_FALSE(display.isIconic(late));
    EXPECT_EQ(attempts.size(), 3);
}

} // namespace
