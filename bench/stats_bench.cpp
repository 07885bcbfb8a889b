// Costs of the statistics store on the paths the app hits often: a blocked
// attempt (counted and saved to the preferences file), a peer's history
// arriving, and the history's JSON form.
#include "devices/DeviceIDManager.h"
#include "platform/Clock.h"
#include "platform/PreferencesStore.h"
#include "session/SessionModel.h"
#include "stats/AnalyticsManager.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace quillmoss;

namespace {

// Wall-clock timers, but a present instant the benchmark moves itself so that
// the once-a-minute throttle never skips an attempt.
class SteppedClock final : public Clock {
public:
    QDateTime now() const override { return m_now; }
    std::unique_ptr<ClockTimer> createTimer() override { return SystemClock::instance().createTimer(); }
    void callLater(int delayMs, QObject *context, std::function<void()> action) override {
        SystemClock::instance().callLater(delayMs, context, std::move(action));
    }
    void step(qint64 seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
};

const QDateTime kBase(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);

// `count` items spread at random over the 100 hours around `centre`.
SessionHistory randomHistory(int count, const QDateTime &centre, QRandomGenerator &rng) {
    SessionHistory list;
    list.reserve(count);
    for (int i = 0; i < count; ++i)
        list.append({QUuid::createUuid(), centre.addSecs(rng.bounded(-180'000, 180'000)), 1500.0 + i,
                     QStringLiteral("Organic chemistry"), uuidText(QUuid::createUuid())});
    std::sort(list.begin(), list.end(), [](const auto &a, const auto &b) { return a.startTime > b.startTime; });
    return list;
}

// A preferences file as a long-time user has it: full history, a breakdown
// with many targets, and the other subsystems' keys.
void fillLikeARealUser(PreferencesStore &prefs) {
    QRandomGenerator rng(7);
    prefs.setData(AnalyticsManager::kHistoryKey, encodeHistory(randomHistory(100, kBase, rng)));
    LifetimeStats stats;
    stats.sessionsStarted = 420;
    stats.distractionBreakdown = DistractionBreakdown();
    for (int i = 0; i < 60; ++i) stats.distractionBreakdown->insert(QStringLiteral("site-%1.example").arg(i), i * 3);
    prefs.setData(AnalyticsManager::kStatsKey, stats.encode());
    prefs.setData(QStringLiteral("LastSessionBlocks"), encodePlan(defaultPlan()));
    prefs.setBool(QStringLiteral("unlockDuringBreak"), true);
}

void BM_RecordBlockedAttemptSavedToFile(benchmark::State &state) {
    QTemporaryDir dir;
    auto prefs = PreferencesStore::openFile(dir.filePath(QStringLiteral("preferences.json")));
    fillLikeARealUser(*prefs);
    SteppedClock clock;
    DeviceIDManager ids(*prefs, [] { return QStringLiteral("Bench"); });
    AnalyticsManager stats(*prefs, nullptr, clock, ids);
    const qint64 before = stats.lifetimeStats().distractionsBlocked;
    for (auto _ : state) {
        clock.step(61);
        stats.recordBlockedAttempt(QStringLiteral("site-7.example"), QStringLiteral("website"));
        QCoreApplication::sendPostedEvents(); // the count and the atomic save
    }
    if (stats.lifetimeStats().distractionsBlocked - before != static_cast<qint64>(state.iterations()))
        state.SkipWithError("an attempt was not counted");
}
BENCHMARK(BM_RecordBlockedAttemptSavedToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MergePeerHistory100Into100(benchmark::State &state) {
    PreferencesStore prefs;
    QRandomGenerator rng(11);
    prefs.setData(AnalyticsManager::kHistoryKey, encodeHistory(randomHistory(100, kBase, rng)));
    SteppedClock clock;
    DeviceIDManager ids(prefs, [] { return QStringLiteral("Bench"); });
    AnalyticsManager stats(prefs, nullptr, clock, ids);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Overlaps the held items by half, so the merge sorts and drops.
        const SessionHistory incoming = randomHistory(100, kBase.addSecs(++round * 180'000), rng);
        state.ResumeTiming();
        stats.mergePeerHistory(incoming);
        QCoreApplication::sendPostedEvents();
    }
    if (stats.sessionHistory().size() != 100) state.SkipWithError("history not capped at 100");
}
BENCHMARK(BM_MergePeerHistory100Into100)->Unit(benchmark::kMicrosecond);

void BM_EncodeHistory100(benchmark::State &state) {
    QRandomGenerator rng(13);
    const SessionHistory history = randomHistory(100, kBase, rng);
    for (auto _ : state) benchmark::DoNotOptimize(encodeHistory(history));
}
BENCHMARK(BM_EncodeHistory100)->Unit(benchmark::kMicrosecond);

void BM_DecodeHistory100(benchmark::State &state) {
    QRandomGenerator rng(17);
    const QByteArray json = encodeHistory(randomHistory(100, kBase, rng));
    for (auto _ : state) {
        auto decoded = decodeHistory(json);
        if (!decoded || decoded->size() != 100) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_DecodeHistory100)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
