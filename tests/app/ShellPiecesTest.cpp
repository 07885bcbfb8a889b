#include "QuitGuard.h"
#include "SingleInstance.h"
#include "StatusIconPainter.h"
#include "SystemTray.h"

#include "devices/DeviceIDManager.h"
#include "session/FocusManager.h"
#include "stats/AnalyticsManager.h"
#include "support/Fakes.h"
#include "support/ManualClock.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

template <typename Condition>
bool eventually(Condition condition) {
    return QTest::qWaitFor(condition, 15000);
}

struct EngineRig {
    PreferencesStore prefs;
    ManualClock clock;
    FakeEnforcement enforcement;
    FakeNotifications notifications;
    FakeSounds sounds;
    DeviceIDManager deviceIds{prefs, [] { return QStringLiteral("Test Machine"); }};
    AnalyticsManager stats{prefs, nullptr, clock, deviceIds};
    FocusManager engine{{prefs, clock, enforcement, notifications, sounds, stats, deviceIds, nullptr}};

    void startStudy() {
        SessionPlan plan{SessionBlock::make(BlockType::Study, 1500)};
        engine.startSession(QStringLiteral("Maths"), plan, 1500);
        ManualClock::drainMainQueue();
    }
};

struct QuitGuardTest : ::testing::Test {
    EngineRig rig;
    QuitGuard guard{rig.engine};
    QWindow window;
    QSignalSpy approved{&guard, &QuitGuard::quitApproved};

    void SetUp() override {
        guard.watchWindow(&window);
        window.resize(200, 200);
        window.show();
    }
    void TearDown() override {
        if (guard.alert()) guard.alert()->close();
    }
    // What closing the window with the title bar's button sends.
    bool closeWindow() {
        QCloseEvent event;
        QCoreApplication::sendEvent(&window, &event);
        return event.isAccepted();
    }
};

} // namespace

TEST_F(QuitGuardTest, WithoutASessionEveryQuitGoesAhead) {
    EXPECT_TRUE(guard.requestQuit());
    closeWindow();
    EXPECT_EQ(approved.count(), 2);
    EXPECT_EQ(guard.alert(), nullptr);
}

TEST_F(QuitGuardTest, DuringASessionTheWindowCloseIsRefusedWithTheAlert) {
    rig.startStudy();
    EXPECT_FALSE(closeWindow());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(approved.count(), 0);
    QMessageBox *alert = guard.alert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), "Study Session Active");
    EXPECT_EQ(alert->informativeText(), "You cannot quit quillmoss while a study session is active.");
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().first()->text().remove('&'), "OK");

    // Asking again while the alert is open does not stack a second one.
    EXPECT_FALSE(guard.requestQuit());
    EXPECT_EQ(guard.alert(), alert);
    EXPECT_TRUE(rig.engine.isFocusing());

    alert->buttons().first()->click();
    ASSERT_TRUE(eventually([&] { return guard.alert() == nullptr; }));
    EXPECT_TRUE(rig.engine.isFocusing());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(QuitGuardTest, CtrlQIsAQuitRequest) {
    rig.startStudy();
    window.requestActivate();
    ASSERT_TRUE(eventually([&] { return window.isActive(); }));
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    ASSERT_NE(guard.alert(), nullptr);
    EXPECT_EQ(approved.count(), 0);
    QTest::keyClick(&window, Qt::Key_Q); // a plain q is typing, not quitting

    guard.alert()->close();
    ASSERT_TRUE(eventually([&] { return guard.alert() == nullptr; }));
    rig.engine.endSession();
    window.requestActivate();
    ASSERT_TRUE(eventually([&] { return window.isActive(); }));
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(approved.count(), 1);
}

TEST_F(QuitGuardTest, APreviewCountsAsASession) {
    rig.engine.startPreview();
    EXPECT_FALSE(guard.requestQuit());
    rig.engine.endSession();
    EXPECT_TRUE(guard.requestQuit());
}

TEST(SystemTrayTest, MenuHasTheThreeItemsInOrderAndReportsChoices) {
    SystemTray tray;
    EXPECT_FALSE(tray.exists());
    tray.create(StatusDisplay{StatusIcon::StudyLogo, QStringLiteral(" 24:59"), 24});
    ASSERT_TRUE(tray.exists());
    const QList<QAction *> actions = tray.menu()->actions();
    QStringList texts;
    for (QAction *a : actions) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(texts, QStringList({"Open quillmoss", "-", "Check for Updates\u2026", "-", "Quit"}));
    EXPECT_EQ(tray.trayIcon()->toolTip(), " 24:59");

    QSignalSpy open(&tray, &SystemTray::openChosen);
    QSignalSpy updates(&tray, &SystemTray::checkForUpdatesChosen);
    QSignalSpy quit(&tray, &SystemTray::quitChosen);
    actions[0]->trigger();
    actions[2]->trigger();
    actions[4]->trigger();
    EXPECT_EQ(open.count(), 1);
    EXPECT_EQ(updates.count(), 1);
    EXPECT_EQ(quit.count(), 1);

    tray.show(StatusDisplay{});
    EXPECT_EQ(tray.trayIcon()->toolTip(), "");
    tray.discard();
    EXPECT_FALSE(tray.exists());
}

TEST(StatusIconTest, BadgeColourTellsStudyFromBreakAndIdleHasNone) {
    const int size = 64;
    const QPoint badgeCorner(int(size * 0.08), int(size * 0.92));
    const QImage idle = paintStatusImage(StatusDisplay{}, size);
    const QImage study = paintStatusImage({StatusIcon::StudyLogo, " 24:59", 24}, size);
    const QImage breakTime = paintStatusImage({StatusIcon::BreakCup, " 04:59", 4}, size);
    EXPECT_EQ(qAlpha(idle.pixel(badgeCorner)), 0);
    const QColor studyColour = study.pixelColor(badgeCorner);
    const QColor breakColour = breakTime.pixelColor(badgeCorner);
    EXPECT_GT(studyColour.red(), 200);
    EXPECT_LT(studyColour.green(), 100);
    EXPECT_GT(breakColour.green(), 150);
    EXPECT_LT(breakColour.red(), 100);
    // The logo and the cup are different pictures, and the count is drawn.
    EXPECT_NE(study.copy(0, 0, size, size / 3), breakTime.copy(0, 0, size, size / 3));
    EXPECT_NE(study, paintStatusImage({StatusIcon::StudyLogo, " 23:59", 23}, size));
    // Even three digits leave white text inside the badge.
    const QImage long_ = paintStatusImage({StatusIcon::StudyLogo, " 120:00", 120}, size);
    int white = 0;
    for (int x = 0; x < size; ++x)
        if (long_.pixelColor(x, int(size * 0.72)).lightness() > 230) ++white;
    EXPECT_GT(white, 4);
}

TEST(SingleInstanceTest, SecondClaimInTheSameDirectoryFailsWhileTheFirstHoldsIt) {
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    ASSERT_TRUE(first.claim());
    EXPECT_TRUE(QFile::exists(first.socketPath()));
    SingleInstance second(dir.path());
    EXPECT_FALSE(second.claim());
}

TEST(SingleInstanceTest, LeftoversOfACrashedInstanceDoNotBlockTheNextStart) {
    QTemporaryDir dir;
    SingleInstance probe(dir.path());
    // A socket file nobody listens on (bound, then the process "died" without
    // removing it) and a lock naming a process that is gone.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(probe.socketPath());
    ASSERT_LT(size_t(path.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.constData(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(probe.socketPath()));
    QFile lock(probe.lockPath());
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write("999999\nquillmoss\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();

    SingleInstance next(dir.path());
    ASSERT_TRUE(next.claim());
    QLocalSocket client;
    client.connectToServer(next.socketPath());
    EXPECT_TRUE(client.waitForConnected(5000));
}

TEST(SingleInstanceTest, MalformedHandOverIsDroppedAndAGoodOneIsAnswered) {
    QTemporaryDir dir;
    SingleInstance instance(dir.path());
    ASSERT_TRUE(instance.claim());
    QSignalSpy received(&instance, &SingleInstance::argumentsReceived);

    QLocalSocket bad;
    bad.connectToServer(instance.socketPath());
    ASSERT_TRUE(bad.waitForConnected(5000));
    bad.write("[1, {\"x\": 2}]\n");
    bad.flush();
    ASSERT_TRUE(eventually([&] { return bad.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_EQ(received.count(), 0);

    QLocalSocket good;
    good.connectToServer(instance.socketPath());
    ASSERT_TRUE(good.waitForConnected(5000));
    good.write("[\"quillmoss://qr?data=x\", \"--flag\"]\n");
    good.flush();
    ASSERT_TRUE(eventually([&] { return received.count() == 1; }));
    EXPECT_EQ(received.at(0).at(0).toStringList(), QStringList({"quillmoss://qr?data=x", "--flag"}));
    ASSERT_TRUE(eventually([&] { return good.canReadLine(); }));
    EXPECT_EQ(good.readLine(), "ok\n");
}
