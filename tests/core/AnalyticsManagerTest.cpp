#include "devices/DeviceIDManager.h"
#include "platform/JsonDates.h"
#include "platform/PreferencesStore.h"
#include "session/SessionModel.h"
#include "stats/AnalyticsManager.h"
#include "support/ManualClock.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>

using namespace quillmoss;
using quillmoss::test::ManualClock;

namespace {

class AnalyticsTest : public ::testing::Test {
protected:
    PreferencesStore prefs;
    PreferencesStore group;
    ManualClock clock;
    DeviceIDManager ids{prefs, [] { return QStringLiteral("Desk"); }};
    int writes = 0;

    void SetUp() override {
        QObject::connect(&prefs, &PreferencesStore::changed, [this] { ++writes; });
    }
    std::unique_ptr<AnalyticsManager> make(PreferencesStore *groupPrefs = nullptr) {
        return std::make_unique<AnalyticsManager>(prefs, groupPrefs, clock, ids);
    }
    static void drain() { ManualClock::drainMainQueue(); }
    LifetimeStats storedStats() const { return *LifetimeStats::decode(*prefs.dataValue("LifetimeStats")); }
    SessionHistory storedHistory() const { return *decodeHistory(*prefs.dataValue("SessionHistory")); }
};

SessionHistoryItem item(const QDateTime &start, const QString &subject = QString(), double duration = 1500) {
    return {QUuid::createUuid(), start, duration, subject, QStringLiteral("PEER")};
}

// `count` items, one hour apart, starting at `from` and going back in time.
SessionHistory itemsGoingBack(const QDateTime &from, int count) {
    SessionHistory list;
    for (int i = 0; i < count; ++i) list.append(item(from.addSecs(-3600 * i)));
    return list;
}

} // namespace

TEST_F(AnalyticsTest, BlockedAttemptsCountOncePerTargetPerMinute) {
    auto stats = make();
    stats->recordBlockedAttempt("org.game", "app");
    EXPECT_EQ(stats->lifetimeStats().distractionsBlocked, 0) << "counted on the main queue, not at once";
    drain();
    EXPECT_EQ(stats->lifetimeStats().distractionBreakdown, (DistractionBreakdown{{"org.game", 1}}));

    clock.advance(1000);
    stats->recordBlockedAttempt("video.site", "website"); // another target within a second
    clock.advance(58'000);                                // 59 s after the first
    stats->recordBlockedAttempt("org.game", "app");
    drain();
    EXPECT_EQ(stats->lifetimeStats().distractionsBlocked, 2);

    clock.advance(1000); // 60 s after the first: the throttled one did not renew the window
    stats->recordBlockedAttempt("org.game", "app");
    drain();
    EXPECT_EQ(stats->lifetimeStats().distractionsBlocked, 3);
    EXPECT_EQ(stats->lifetimeStats().distractionBreakdown, (DistractionBreakdown{{"org.game", 2}, {"video.site", 1}}));
    EXPECT_EQ(storedStats(), stats->lifetimeStats());

    // A clock set back by an hour does not silence the target for an hour.
    clock.setNow(clock.now().addSecs(-3600));
    stats->recordBlockedAttempt("org.game", "app");
    drain();
    EXPECT_EQ(stats->lifetimeStats().distractionsBlocked, 4);
}

TEST_F(AnalyticsTest, SessionTotalsAndBadDurations) {
    auto stats = make();
    stats->recordSessionStarted();
    EXPECT_EQ(stats->lifetimeStats().sessionsStarted, 1) << "applied at once";
    stats->recordSessionEnded(true, 1500);
    stats->recordSessionEnded(false, 300.5);
    stats->recordGroupSessionJoined();
    drain();
    EXPECT_EQ(stats->lifetimeStats().sessionsCompleted, 1);
    EXPECT_EQ(stats->lifetimeStats().totalSecondsFocused, 1800.5);
    EXPECT_EQ(stats->lifetimeStats().groupSessionsJoined, 1);

    // Nonsense durations add nothing and never reach the stored record (NaN
    // would be written as null and spoil it).
    stats->recordSessionEnded(true, std::nan(""));
    stats->recordSessionEnded(false, -50);
    stats->recordSessionEnded(false, INFINITY);
    drain();
    EXPECT_EQ(stats->lifetimeStats().totalSecondsFocused, 1800.5);
    EXPECT_EQ(stats->lifetimeStats().sessionsCompleted, 2);
    EXPECT_EQ(make()->lifetimeStats(), stats->lifetimeStats()) << "a later run reads the same totals";
}

TEST_F(AnalyticsTest, LocalHistoryGoesToTheFrontAndKeepsFifty) {
    auto stats = make();
    const QDateTime now = clock.now();
    SessionHistoryItem first = item(now);
    stats->addHistoryItem(first);
    for (int i = 1; i < 50; ++i) stats->addHistoryItem(item(now.addSecs(i)));
    drain();
    ASSERT_EQ(stats->sessionHistory().size(), 50);

    const int before = writes;
    SessionHistoryItem again = item(now.addDays(1), "other subject");
    again.id = first.id;
    stats->addHistoryItem(again);
    drain();
    EXPECT_EQ(writes, before) << "a known id changes and writes nothing";

    SessionHistoryItem oldest = item(now.addYears(-1));
    stats->addHistoryItem(oldest);
    drain();
    ASSERT_EQ(stats->sessionHistory().size(), 50);
    EXPECT_EQ(stats->sessionHistory().front().id, oldest.id) << "not sorted: the newest record leads";
    EXPECT_FALSE(stats->sessionHistory().contains(first)) << "the last one drops, whatever its date";
    EXPECT_EQ(storedHistory().size(), 50);

    // Items that cannot be stored faithfully.
    SessionHistoryItem noStart = item(QDateTime());
    SessionHistoryItem nanDuration = item(now, "nan", std::nan(""));
    stats->addHistoryItem(noStart);
    stats->addHistoryItem(nanDuration);
    drain();
    EXPECT_FALSE(stats->sessionHistory().contains(noStart));
    ASSERT_EQ(stats->sessionHistory().front().id, nanDuration.id);
    EXPECT_EQ(stats->sessionHistory().front().duration, 0);
    EXPECT_EQ(storedHistory().front().duration, 0);
}

TEST_F(AnalyticsTest, MergeKeepsTheHundredNewestAndIgnoresKnownItems) {
    const QDateTime now = clock.now();
    const SessionHistory local = itemsGoingBack(now, 80); // now … now-79h
    prefs.setData("SessionHistory", encodeHistory(local));
    auto stats = make();

    // 30 unknown items interleaved with the local ones: 15 newer than all,
    // 15 older than all (and one repeated inside the message).
    SessionHistory incoming = itemsGoingBack(now.addSecs(15 * 3600), 15);
    incoming += itemsGoingBack(now.addSecs(-80 * 3600), 15);
    incoming.append(incoming.front());
    stats->mergePeerHistory(incoming);
    drain();

    const SessionHistory &merged = stats->sessionHistory();
    ASSERT_EQ(merged.size(), 100);
    for (int i = 1; i < merged.size(); ++i) EXPECT_GT(merged[i - 1].startTime, merged[i].startTime);
    EXPECT_EQ(merged.front().startTime, now.addSecs(15 * 3600));
    EXPECT_EQ(merged.back().startTime, now.addSecs(-84 * 3600)) << "the 10 oldest are dropped";
    EXPECT_EQ(storedHistory().size(), 100);

    // Sending back what we already hold (our own items included) changes nothing.
    const QByteArray bytes = *prefs.dataValue("SessionHistory");
    const int before = writes;
    SessionHistory echo = merged.mid(40, 20);
    echo.append(local.front());
    stats->mergePeerHistory(echo);
    drain();
    EXPECT_EQ(writes, before);
    EXPECT_EQ(*prefs.dataValue("SessionHistory"), bytes);
}

TEST_F(AnalyticsTest, RecordsWithMissingOrBadMembers) {
    auto loads = [&](const QByteArray &json) {
        prefs.setData("LifetimeStats", json);
        return make()->lifetimeStats();
    };
    const LifetimeStats old = loads(R"({"totalSecondsFocused":60.5,"sessionsCompleted":2,"sessionsStarted":3,
                                        "distractionsBlocked":4})");
    EXPECT_EQ(old.groupSessionsJoined, 0);
    EXPECT_EQ(old.sessionsStarted, 3);
    EXPECT_FALSE(old.distractionBreakdown);

    EXPECT_EQ(loads(R"({"sessionsCompleted":"2","sessionsStarted":3})"), LifetimeStats());
    EXPECT_EQ(loads(R"({"sessionsCompleted":1,"sessionsStarted":2.5})"), LifetimeStats());
    EXPECT_EQ(loads(R"({"sessionsStarted":1,"distractionBreakdown":{"a":1,"b":"x"}})"), LifetimeStats());
    EXPECT_EQ(loads(R"([1,2])"), LifetimeStats());
    EXPECT_EQ(loads("not json"), LifetimeStats());

    // Large counts survive exactly.
    LifetimeStats big;
    big.distractionsBlocked = 9'007'199'254'740'993; // beyond a double's integers
    big.distractionBreakdown = DistractionBreakdown{{"x", 1}};
    EXPECT_EQ(loads(big.encode()), big);

    // One bad history element spoils the list; its bytes stay until a real save.
    SessionHistory two = itemsGoingBack(clock.now(), 2);
    QJsonArray array = historyToJson(two);
    QJsonObject bad = array[1].toObject();
    bad.remove("subject");
    array[1] = bad;
    const QByteArray badHistory = QJsonDocument(array).toJson();
    prefs.setData("SessionHistory", badHistory);
    prefs.setData("LifetimeStats", R"({"sessionsStarted":"many"})");
    auto stats = make();
    EXPECT_TRUE(stats->sessionHistory().isEmpty());
    EXPECT_EQ(*prefs.dataValue("SessionHistory"), badHistory);
    stats->recordSessionStarted();
    EXPECT_EQ(*prefs.dataValue("SessionHistory"), badHistory) << "only what changed is saved";
    EXPECT_EQ(storedStats().sessionsStarted, 1);
}

TEST_F(AnalyticsTest, HistoryItemJsonForm) {
    SessionHistoryItem it{QUuid::createUuid(), fromReferenceSeconds(800'000'000.25), 1500, "Maths", "DEV"};
    const QJsonObject o = it.toJson();
    EXPECT_EQ(o["id"].toString(), it.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(o["startTime"].toDouble(), 800'000'000.25);
    auto back = SessionHistoryItem::fromJson(o);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->startTime, it.startTime);
    EXPECT_FALSE(LifetimeStats().toJson().contains("distractionBreakdown"));
}

TEST_F(AnalyticsTest, RestrictedAttemptsFromTheGroupSuite) {
    auto stats = make(&group);
    group.setInteger("stats_restricted_attempts", 3);
    group.setDictionary("stats_restricted_attempts_details", {});
    stats->syncRestrictedAttempts();
    EXPECT_EQ(stats->lifetimeStats().distractionsBlocked, 0) << "applied on the main queue";
    drain();
    EXPECT_EQ(stats->lifetimeStats().distractionsBlocked, 3);
    EXPECT_EQ(group.integerValue("stats_restricted_attempts"), 0);
    EXPECT_FALSE(stats->lifetimeStats().distractionBreakdown);
    EXPECT_EQ(storedStats().distractionsBlocked, 3);

    group.setDictionary("stats_restricted_attempts_details", {{"org.game", 2}});
    stats->syncRestrictedAttempts();
    drain();
    EXPECT_EQ(stats->lifetimeStats().distractionsBlocked, 3) << "details add to the breakdown only";
    EXPECT_EQ(stats->lifetimeStats().distractionBreakdown, (DistractionBreakdown{{"org.game", 2}}));
    EXPECT_EQ(group.dictionaryValue("stats_restricted_attempts_details"), QVariantMap());

    // A detail that is not a count leaves the whole map for its writer.
    group.setInteger("stats_restricted_attempts", 1);
    group.setDictionary("stats_restricted_attempts_details", {{"a", 1}, {"b", 1.5}});
    stats->syncRestrictedAttempts();
    drain();
    EXPECT_EQ(stats->lifetimeStats().distractionsBlocked, 4);
    EXPECT_EQ(stats->lifetimeStats().distractionBreakdown, (DistractionBreakdown{{"org.game", 2}}));
    EXPECT_EQ(group.dictionaryValue("stats_restricted_attempts_details")->size(), 2);

    // Without a group suite nothing happens; startUp creates the device id.
    auto alone = make();
    EXPECT_FALSE(prefs.contains("quillmoss_device_id"));
    alone->startUp();
    drain();
    EXPECT_TRUE(prefs.contains("quillmoss_device_id"));
}

TEST_F(AnalyticsTest, SurveyAddressAndDeviceColours) {
    auto stats = make();
    const auto forms = AnalyticsManager::surveyForms();
    auto url = stats->surveyURL(forms.first);
    ASSERT_TRUE(url);
    EXPECT_TRUE(url->toString().endsWith("/run/" + forms.first + "?user_id=" + ids.deviceID())) << url->toString().toStdString();
    EXPECT_EQ(stats->feedbackURL(), *stats->surveyURL(forms.feedback));

    EXPECT_FALSE(buildSurveyURL("https://forms.example/", "AB", "has space"));
    EXPECT_FALSE(buildSurveyURL("", "AB", "ID")) << "a relative address cannot be opened";
    EXPECT_FALSE(buildSurveyURL("https://forms.example/", "A{B", "ID"));

    EXPECT_EQ(stats->colorForDevice(ids.deviceID()), "blue");
    QSet<QString> seen;
    for (int i = 0; i < 64; ++i) seen.insert(stats->colorForDevice(QString::number(i)));
    EXPECT_GT(seen.size(), 3);
    EXPECT_TRUE(seen.values().front() != "blue" && seen.size() <= 8);
    EXPECT_EQ(stats->colorForDevice("7"), stats->colorForDevice("7"));
}

TEST_F(AnalyticsTest, PeerTotalsAndPublishedForms) {
    auto stats = make();
    LifetimeStats a;
    a.sessionsStarted = 4;
    stats->updatePeerStats("PEER", a);
    a.sessionsStarted = 5;
    stats->updatePeerStats("PEER", a);
    stats->addHistoryItem(item(clock.now(), "Maths"));
    drain();
    EXPECT_EQ(stats->property("peerStats").toMap()["PEER"].toMap()["sessionsStarted"].toLongLong(), 5);
    const QVariantMap first = stats->property("sessionHistory").toList().front().toMap();
    EXPECT_EQ(first["startTime"].toDateTime(), clock.now());
    EXPECT_EQ(first["subject"].toString(), "Maths");
    EXPECT_TRUE(make()->peerStats().isEmpty()) << "peer totals live in memory only";
}

TEST_F(AnalyticsTest, ResetOfTheStoreIsNotUndoneByTheNextSave) {
    auto stats = make();
    stats->recordSessionStarted();
    stats->recordSessionEnded(true, 1500);
    stats->recordBlockedAttempt("org.game", "app");
    stats->addHistoryItem(item(clock.now()));
    drain();
    int statsSignals = 0;
    QObject::connect(stats.get(), &AnalyticsManager::lifetimeStatsChanged, [&] { ++statsSignals; });

    prefs.removeAll(); // the app-data reset
    EXPECT_EQ(stats->lifetimeStats(), LifetimeStats());
    EXPECT_TRUE(stats->sessionHistory().isEmpty());
    EXPECT_EQ(statsSignals, 1);

    stats->recordSessionStarted();
    LifetimeStats expected;
    expected.sessionsStarted = 1;
    EXPECT_EQ(storedStats(), expected);
    EXPECT_FALSE(prefs.contains("SessionHistory"));

    // Other keys coming and going leave the records alone.
    prefs.setBool("isMuted", true);
    prefs.remove("isMuted");
    EXPECT_EQ(stats->lifetimeStats(), expected);
}
