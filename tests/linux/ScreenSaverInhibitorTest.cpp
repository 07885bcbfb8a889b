#include "DesktopBusTest.h"
#include "FakeDesktopServices.h"
#include "ScreenSaverInhibitor.h"

#include <QSignalSpy>

#include <memory>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

const QString kReason = QStringLiteral("quillmoss Focus Session");

class ScreenSaverInhibitorTest : public DesktopBusTest {};

} // namespace

TEST_F(ScreenSaverInhibitorTest, CookieRoundTrip) {
    FakeScreenSaver fake(server);
    ASSERT_TRUE(fake.serve());
    ScreenSaverInhibitor inhibitor(client);
    QSignalSpy changes(&inhibitor, &IdleInhibitPort::inhibitedChanged);

    inhibitor.release(); // nothing held: harmless
    inhibitor.inhibit(kReason);
    inhibitor.inhibit(kReason); // already asked: no second request
    ASSERT_TRUE(eventually([&] { return inhibitor.isInhibited(); }));
    inhibitor.inhibit(kReason); // held: no second request
    ASSERT_EQ(fake.inhibits.size(), 1u);
    EXPECT_EQ(fake.inhibits.front(), std::make_pair(QStringLiteral("quillmoss"), kReason));

    inhibitor.release();
    inhibitor.release();
    EXPECT_FALSE(inhibitor.isInhibited());
    ASSERT_TRUE(eventually([&] { return !fake.cookiesReturned.empty(); }));
    EXPECT_EQ(fake.cookiesReturned, fake.cookiesGiven);
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes.at(0).at(0), QVariant(true));
    EXPECT_EQ(changes.at(1).at(0), QVariant(false));
    EXPECT_TRUE(consoleLines().isEmpty());
}

TEST_F(ScreenSaverInhibitorTest, LateCookieAfterReleaseIsReturnedAtOnce) {
    FakeScreenSaver fake(server);
    fake.holdAnswers = true;
    ASSERT_TRUE(fake.serve());
    ScreenSaverInhibitor inhibitor(client);
    QSignalSpy changes(&inhibitor, &IdleInhibitPort::inhibitedChanged);

    inhibitor.inhibit(kReason);
    ASSERT_TRUE(eventually([&] { return fake.inhibits.size() == 1; }));
    inhibitor.release();
    fake.answerHeld();
    ASSERT_TRUE(eventually([&] { return fake.cookiesReturned.size() == 1; }));
    EXPECT_EQ(fake.cookiesReturned, fake.cookiesGiven);
    EXPECT_FALSE(inhibitor.isInhibited());
    EXPECT_EQ(changes.size(), 0);

    // Released and asked again before the answer: the one cookie is kept.
    inhibitor.inhibit(kReason);
    ASSERT_TRUE(eventually([&] { return fake.inhibits.size() == 2; }));
    inhibitor.release();
    inhibitor.inhibit(kReason);
    fake.answerHeld();
    ASSERT_TRUE(eventually([&] { return inhibitor.isInhibited(); }));
    EXPECT_EQ(fake.inhibits.size(), 2u);
    EXPECT_EQ(fake.cookiesReturned.size(), 1u);
}

TEST_F(ScreenSaverInhibitorTest, FailuresAreReportedForRetryAndLoggedOnce) {
    ScreenSaverInhibitor inhibitor(client);
    QSignalSpy failures(&inhibitor, &IdleInhibitPort::inhibitFailed);
    for (int pass = 1; pass <= 3; ++pass) {
        inhibitor.inhibit(kReason);
        ASSERT_TRUE(eventually([&] { return failures.size() == pass; }));
        EXPECT_FALSE(inhibitor.isInhibited());
    }
    EXPECT_TRUE(failures.at(0).at(0).toString().contains("ServiceUnknown"));

    FakeScreenSaver fake(server);
    ASSERT_TRUE(fake.serve());
    inhibitor.inhibit(kReason);
    ASSERT_TRUE(eventually([&] { return inhibitor.isInhibited(); }));

    // A screen saver that restarts has forgotten the hold.
    QSignalSpy changes(&inhibitor, &IdleInhibitPort::inhibitedChanged);
    ASSERT_TRUE(fake.withdraw());
    ASSERT_TRUE(eventually([&] { return !inhibitor.isInhibited(); }));
    EXPECT_EQ(changes.size(), 1);
    EXPECT_EQ(consoleLines().size(), 1);
}

TEST_F(ScreenSaverInhibitorTest, DestructionGivesTheHoldBack) {
    FakeScreenSaver fake(server);
    ASSERT_TRUE(fake.serve());
    auto held = std::make_unique<ScreenSaverInhibitor>(client);
    held->inhibit(kReason);
    ASSERT_TRUE(eventually([&] { return held->isInhibited(); }));
    held.reset();
    ASSERT_TRUE(eventually([&] { return fake.cookiesReturned.size() == 1; }));

    fake.holdAnswers = true;
    auto asking = std::make_unique<ScreenSaverInhibitor>(client);
    asking->inhibit(kReason);
    ASSERT_TRUE(eventually([&] { return fake.inhibits.size() == 2; }));
    asking.reset();
    fake.answerHeld();
    ASSERT_TRUE(eventually([&] { return fake.cookiesReturned.size() == 2; }));
    EXPECT_EQ(fake.cookiesReturned, fake.cookiesGiven);
}
