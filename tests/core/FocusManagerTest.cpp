#include "devices/DeviceIDManager.h"
#include "session/FocusManager.h"
#include "stats/AnalyticsManager.h"
#include "support/Fakes.h"
#include "support/ManualClock.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

SessionPlan plan(std::initializer_list<std::pair<BlockType, double>> blocks) {
    SessionPlan p;
    for (auto [type, seconds] : blocks) p.append(SessionBlock::make(type, seconds));
    return p;
}

constexpr auto Study = BlockType::Study;
constexpr auto Break = BlockType::Break;

// Everything the engine needs, over one preferences store.
struct Rig {
    explicit Rig(PreferencesStore &store, ManualClock &clk) : prefs(store), clock(clk) {}
    PreferencesStore &prefs;
    ManualClock &clock;
    FakeEnforcement enforcement;
    FakeNotifications notifications;
    FakeSounds sounds;
    FakePeers peers;
    DeviceIDManager deviceIds{prefs, [] { return QStringLiteral("Test Machine"); }};
    AnalyticsManager stats{prefs, nullptr, clock, deviceIds};
    std::unique_ptr<FocusManager> engine;

    FocusManager &make() {
        engine = std::make_unique<FocusManager>(
            FocusManager::Collaborators{prefs, clock, enforcement, notifications, sounds, stats, deviceIds, &peers});
        ManualClock::drainMainQueue();
        return *engine;
    }
};

struct EngineTest : ::testing::Test {
    PreferencesStore prefs;
    ManualClock clock;
    Rig rig{prefs, clock};
    FocusManager &engine = rig.make();

    void start(const SessionPlan &p, const QString &subject = "Maths") {
        engine.startSession(subject, p, totalDuration(p));
        ManualClock::drainMainQueue();
    }
};

} // namespace

TEST_F(EngineTest, FreshEngineHasDefaults) {
    EXPECT_TRUE(engine.isMuted());
    EXPECT_FALSE(engine.sessionStateNotificationsEnabled());
    EXPECT_FALSE(engine.unlockDuringBreak());
    EXPECT_EQ(engine.selection(), MacActivitySelection::defaultSelection());
    EXPECT_EQ(engine.selection().appBundleIDs.size(), 11);
    EXPECT_EQ(engine.selection().webDomains.size(), 11);
    EXPECT_EQ(engine.builderBlocks().size(), 3);
    EXPECT_EQ(engine.builderSubject(), "Study Session");
    EXPECT_FALSE(engine.isFocusing());
}

TEST_F(EngineTest, StartRecordsPersistsAndAnnounces) {
    const SessionPlan p = plan({{Study, 1500}, {Break, 300}, {Study, 1500}});
    start(p);
    EXPECT_TRUE(engine.isFocusing());
    EXPECT_FALSE(engine.isPreviewing());
    EXPECT_EQ(engine.sessionEndTime(), engine.sessionStartTime().addSecs(3300));
    EXPECT_TRUE(rig.enforcement.on);
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsStarted, 1);
    EXPECT_EQ(engine.lastSessionBlocks(), p);
    ASSERT_EQ(rig.peers.starts.size(), 1u);
    EXPECT_EQ(rig.peers.starts[0].subject, "Maths");
    EXPECT_TRUE(rig.sounds.played.empty()); // muted by default

    auto stored = CurrentSessionState::decode(*prefs.dataValue(FocusManager::kCurrentSessionKey));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->sessionId, engine.currentSessionId());
    EXPECT_EQ(stored->blocks, p);
}

TEST_F(EngineTest, BlockSwitchesToggleEnforcementSoundsAndNotifications) {
    engine.setIsMuted(false);
    engine.setSessionStateNotificationsEnabled(true);
    rig.notifications.status = NotificationAuthorization::NotDetermined;
    start(plan({{Study, 60}, {Break, 5400}, {Study, 1500}}), " Biology ");
    EXPECT_EQ(rig.notifications.requests, 1);
    EXPECT_EQ(rig.sounds.played, std::vector<SoundEvent>{SoundEvent::SessionStart});

    clock.advance(60'000);
    EXPECT_EQ(engine.lastBlockType(), Break);
    EXPECT_TRUE(rig.enforcement.on); // breaks stay enforced unless unlocked
    ASSERT_EQ(rig.notifications.posted.size(), 1u);
    EXPECT_EQ(rig.notifications.posted[0].title, "Break time");
    EXPECT_EQ(rig.notifications.posted[0].body, QString::fromUtf8("Break started (1 hr 30 min) \u2014 Biology"));

    // Turning break unlocking on mid-break stops enforcement at once.
    engine.setUnlockDuringBreak(true);
    ManualClock::drainMainQueue();
    EXPECT_FALSE(rig.enforcement.on);

    clock.advance(5400'000);
    EXPECT_TRUE(rig.enforcement.on);
    EXPECT_EQ(rig.notifications.posted.back().title, "Back to study");
    EXPECT_EQ(rig.notifications.posted.back().body, "Study started (25 min) \u2014 Biology");
    EXPECT_EQ(rig.sounds.played, (std::vector<SoundEvent>{SoundEvent::SessionStart, SoundEvent::BreakStart,
                                                         SoundEvent::StudyStart}));

    // Changing the setting during a study block leaves enforcement on.
    engine.setUnlockDuringBreak(false);
    ManualClock::drainMainQueue();
    EXPECT_TRUE(rig.enforcement.on);
}

TEST_F(EngineTest, PlanOpeningWithBreakIsUnenforcedUntilStudy) {
    start(plan({{Break, 300}, {Study, 600}}));
    EXPECT_FALSE(rig.enforcement.on);
    clock.advance(300'000);
    EXPECT_TRUE(rig.enforcement.on);
}

TEST_F(EngineTest, FinishedPlanEndsOnceAsCompleted) {
    engine.setIsMuted(false);
    engine.setSessionStateNotificationsEnabled(true);
    start(plan({{Study, 120}}), "");
    clock.advance(120'000);
    EXPECT_FALSE(engine.isFocusing());
    EXPECT_FALSE(rig.enforcement.on);
    EXPECT_EQ(rig.peers.stops, 1);
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsCompleted, 1);
    EXPECT_EQ(rig.notifications.posted.back().body, "Nice work - you finished your session.");
    EXPECT_EQ(rig.sounds.played.back(), SoundEvent::SessionComplete);
    EXPECT_FALSE(prefs.contains(FocusManager::kCurrentSessionKey));
    ASSERT_EQ(rig.stats.sessionHistory().size(), 1);
    EXPECT_EQ(rig.stats.sessionHistory()[0].id, *engine.currentSessionId());
    EXPECT_DOUBLE_EQ(rig.stats.sessionHistory()[0].duration, 120);
    EXPECT_TRUE(engine.showSessionCompleted());

    // The screen's own end request arriving late changes nothing.
    engine.endSession();
    clock.advance(2000);
    EXPECT_EQ(rig.peers.stops, 1);
    EXPECT_EQ(rig.stats.sessionHistory().size(), 1);
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsCompleted, 1);
}

TEST_F(EngineTest, NinetyFivePercentRule) {
    start(plan({{Study, 3600}}));
    clock.advance(57 * 60'000);
    engine.endSession();
    ManualClock::drainMainQueue();
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsCompleted, 1);

    start(plan({{Study, 3600}}));
    clock.advance(56 * 60'000);
    engine.endSession();
    ManualClock::drainMainQueue();
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsCompleted, 1);
    EXPECT_DOUBLE_EQ(rig.stats.lifetimeStats().totalSecondsFocused, 113 * 60);
}

TEST_F(EngineTest, ShortSessionHandsSurveyToHomeAfterHalfASecond) {
    rig.stats.recordSessionStarted();
    rig.stats.recordSessionStarted(); // two earlier sessions: this is the third
    start(plan({{Study, 600}}));
    ASSERT_TRUE(engine.pendingSurveyURL());
    clock.advance(30'000);
    engine.endSession();
    ManualClock::drainMainQueue();
    EXPECT_FALSE(engine.showSessionCompleted()); // 30 s: no completion screen
    EXPECT_FALSE(engine.showSurveyOnHome());
    clock.advance(499);
    EXPECT_FALSE(engine.showSurveyOnHome());
    clock.advance(1);
    EXPECT_TRUE(engine.showSurveyOnHome());
    EXPECT_TRUE(engine.currentSurveyURL()->toString().endsWith("?user_id=" + rig.deviceIds.deviceID()));
    EXPECT_FALSE(engine.pendingSurveyURL());
}

TEST_F(EngineTest, SurveyThresholds) {
    for (int i = 0; i < 9; ++i) rig.stats.recordSessionStarted();
    start(plan({{Study, 600}}));
    EXPECT_TRUE(engine.pendingSurveyURL()); // the tenth
    engine.endSession();
    start(plan({{Study, 600}}));
    EXPECT_FALSE(engine.pendingSurveyURL()); // the eleventh
}

TEST_F(EngineTest, PreviewEnforcesAndEndsWithoutRecord) {
    engine.startPreview();
    EXPECT_TRUE(engine.isFocusing());
    EXPECT_TRUE(engine.isPreviewing());
    EXPECT_TRUE(rig.enforcement.on);
    clock.advance(120'000);
    engine.endSession();
    ManualClock::drainMainQueue();
    EXPECT_FALSE(engine.isFocusing());
    EXPECT_FALSE(rig.enforcement.on);
    EXPECT_EQ(rig.peers.stops, 1);
    EXPECT_TRUE(rig.stats.sessionHistory().isEmpty());
    EXPECT_FALSE(engine.showSessionCompleted());
}

TEST_F(EngineTest, GuestSessionTakesHostValuesAndStaysQuiet) {
    engine.setIsMuted(false);
    engine.enterLobby("Host", "HOST-ID");
    const QDateTime hostStart = clock.now().addSecs(-100);
    const SessionPlan p = plan({{Study, 1500}});
    engine.startGuestSession(hostStart, hostStart.addSecs(1500), QString("Chem"), p);
    ManualClock::drainMainQueue();
    EXPECT_TRUE(engine.isFocusing());
    EXPECT_FALSE(engine.isWaitingInLobby());
    EXPECT_EQ(engine.lobbyHostName(), std::nullopt);
    EXPECT_EQ(engine.sessionStartTime(), hostStart);
    EXPECT_TRUE(rig.sounds.played.empty());
    EXPECT_TRUE(rig.peers.starts.empty());
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsStarted, 1);
    EXPECT_EQ(rig.stats.lifetimeStats().groupSessionsJoined, 1);
    EXPECT_FALSE(engine.pendingSurveyURL());
}

TEST_F(EngineTest, RemoteStopRecordsNothingAndLeavesNoStaleSession) {
    start(plan({{Study, 1500}}));
    clock.advance(600'000);
    engine.applyRemoteStop();
    EXPECT_FALSE(engine.isFocusing());
    EXPECT_FALSE(rig.enforcement.on);
    EXPECT_FALSE(prefs.contains(FocusManager::kCurrentSessionKey));
    EXPECT_EQ(rig.peers.stops, 0);

    // A later preview must not record the stopped session.
    engine.startPreview();
    clock.advance(120'000);
    engine.endSession();
    ManualClock::drainMainQueue();
    EXPECT_TRUE(rig.stats.sessionHistory().isEmpty());
    EXPECT_EQ(rig.stats.lifetimeStats().totalSecondsFocused, 0);
}

TEST_F(EngineTest, EmptyPlanIsOneOpenEndedStudyPeriod) {
    start({});
    EXPECT_TRUE(rig.enforcement.on);
    const int applies = rig.enforcement.applies;
    clock.advance(10'000);
    EXPECT_EQ(rig.enforcement.applies, applies); // applied once
    EXPECT_TRUE(engine.isFocusing());
}

TEST_F(EngineTest, SelectionIsStoredOnEveryAssignmentAndReset) {
    engine.setSelection({{"a"}, {"b.com"}});
    EXPECT_EQ(MacActivitySelection::decode(*prefs.dataValue(FocusManager::kSelectionKey)),
              (MacActivitySelection{{"a"}, {"b.com"}}));
    engine.resetSelection();
    EXPECT_EQ(MacActivitySelection::decode(*prefs.dataValue(FocusManager::kSelectionKey)),
              MacActivitySelection::defaultSelection());
}

TEST_F(EngineTest, BuilderAndSettingsComeBackAfterRestart) {
    const SessionPlan p = plan({{Study, 600}, {Break, 60}});
    engine.saveBuilderState(p, "Essay");
    engine.setIsMuted(false);
    engine.setUnlockDuringBreak(true);
    engine.setSelection({{"x"}, {}});
    FocusManager &again = rig.make();
    EXPECT_EQ(again.builderBlocks(), p);
    EXPECT_EQ(again.builderSubject(), "Essay");
    EXPECT_FALSE(again.isMuted());
    EXPECT_TRUE(again.unlockDuringBreak());
    EXPECT_EQ(again.selection(), (MacActivitySelection{{"x"}, {}}));
}

TEST_F(EngineTest, UnreadableStoredValuesFallBackAndStayStored) {
    prefs.setData(FocusManager::kBuilderStateKey, "{not json");
    prefs.setData(FocusManager::kSelectionKey, R"({"appBundleIDs":["a"]})");
    prefs.setString("isMuted", "no");
    FocusManager &again = rig.make();
    EXPECT_EQ(again.builderBlocks().size(), 3);
    EXPECT_EQ(again.selection(), MacActivitySelection::defaultSelection());
    EXPECT_TRUE(again.isMuted());
    EXPECT_EQ(prefs.dataValue(FocusManager::kSelectionKey), QByteArray(R"({"appBundleIDs":["a"]})"));
}

// ---- restore from a hand-written preferences file -------------------------

namespace {
struct RestoreTest : ::testing::Test {
    QTemporaryDir dir;
    ManualClock clock{QDateTime(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC)};

    std::unique_ptr<PreferencesStore> writeFile(double startRef, double endRef, const char *extra = "") {
        // startTime/endTime in seconds since 2001-01-01; blocks: 25 min study.
        const QByteArray record = QStringLiteral(
            R"({"startTime":%1,"endTime":%2,"subject":"Physics","blocks":[{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","type":"Study","duration":1500}]%3})")
                                      .arg(startRef, 0, 'f', 3)
                                      .arg(endRef, 0, 'f', 3)
                                      .arg(extra)
                                      .toUtf8();
        const QString path = dir.filePath("quillmoss/preferences.json");
        QDir().mkpath(dir.filePath("quillmoss"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"CurrentSessionState": {"$data": ")" + record.toBase64() + R"("}})");
        f.close();
        return PreferencesStore::openFile(path);
    }
    double nowRef() const { return clock.now().toMSecsSinceEpoch() / 1000.0 - 978307200.0; }
};
} // namespace

TEST_F(RestoreTest, RunningSessionResumesWithItsId) {
    auto prefs = writeFile(nowRef() - 600, nowRef() + 900, R"(,"sessionId":"11111111-2222-3333-4444-555555555555")");
    Rig rig(*prefs, clock);
    FocusManager &engine = rig.make();
    EXPECT_TRUE(engine.isFocusing());
    EXPECT_EQ(uuidText(*engine.currentSessionId()), "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(engine.currentSubject(), "Physics");
    EXPECT_TRUE(rig.enforcement.on);
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsStarted, 0); // not counted again
    EXPECT_TRUE(rig.peers.starts.empty());
    clock.advance(900'000);
    EXPECT_FALSE(engine.isFocusing());
    ASSERT_EQ(rig.stats.sessionHistory().size(), 1);
    EXPECT_EQ(uuidText(rig.stats.sessionHistory()[0].id), "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsCompleted, 1);
}

TEST_F(RestoreTest, ExpiredSessionIsRecordedAsCompletedOfPlannedLength) {
    auto prefs = writeFile(nowRef() - 4000, nowRef() - 2500);
    Rig rig(*prefs, clock);
    FocusManager &engine = rig.make();
    EXPECT_FALSE(engine.isFocusing());
    EXPECT_FALSE(prefs->contains(FocusManager::kCurrentSessionKey));
    EXPECT_EQ(rig.stats.lifetimeStats().sessionsCompleted, 1);
    EXPECT_DOUBLE_EQ(rig.stats.lifetimeStats().totalSecondsFocused, 1500);
    ASSERT_EQ(rig.stats.sessionHistory().size(), 1);
    EXPECT_EQ(rig.stats.sessionHistory()[0].subject, "Physics");
    EXPECT_EQ(rig.stats.sessionHistory()[0].startTime, clock.now().addSecs(-1500));
}

TEST_F(RestoreTest, UnreadableRecordIsLeftInPlace) {
    auto prefs = writeFile(nowRef(), nowRef() + 100, R"(,"sessionId":42)");
    const QJsonValue before = prefs->value(FocusManager::kCurrentSessionKey);
    Rig rig(*prefs, clock);
    FocusManager &engine = rig.make();
    EXPECT_FALSE(engine.isFocusing());
    EXPECT_EQ(prefs->value(FocusManager::kCurrentSessionKey), before);
}

TEST(EngineAccessibility, RequestPublishesTheAnswerEveryTime) {
    PreferencesStore prefs;
    ManualClock clock;
    FakeAccessibility accessibility;
    Rig rig(prefs, clock);
    rig.engine = std::make_unique<FocusManager>(FocusManager::Collaborators{
        prefs, clock, rig.enforcement, rig.notifications, rig.sounds, rig.stats, rig.deviceIds, &rig.peers,
        &accessibility});
    FocusManager &engine = *rig.engine;
    QSignalSpy answered(&engine, &FocusManager::accessibilityPermissionAnswered);
    accessibility.grant = false;
    engine.requestAccessibilityPermission();
    EXPECT_EQ(answered.count(), 0); // never inside the call
    ManualClock::drainMainQueue();
    ASSERT_EQ(answered.count(), 1);
    EXPECT_FALSE(answered[0][0].toBool());
    EXPECT_FALSE(engine.isAuthorized());

    accessibility.grant = true;
    engine.requestAccessibilityPermission();
    ManualClock::drainMainQueue();
    EXPECT_TRUE(engine.isAuthorized());
    engine.requestAccessibilityPermission(); // unchanged answer is announced too
    ManualClock::drainMainQueue();
    EXPECT_EQ(answered.count(), 3);
}

TEST(EngineAccessibility, WithoutASwitchTheAnswerIsNo) {
    PreferencesStore prefs;
    ManualClock clock;
    Rig rig(prefs, clock);
    FocusManager &engine = rig.make();
    QSignalSpy answered(&engine, &FocusManager::accessibilityPermissionAnswered);
    engine.requestAccessibilityPermission();
    ManualClock::drainMainQueue();
    ASSERT_EQ(answered.count(), 1);
    EXPECT_FALSE(engine.isAuthorized());
}
