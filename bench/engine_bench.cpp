// Cost of one evaluation of the running plan (the engine's one-second tick).
#include "devices/DeviceIDManager.h"
#include "platform/PreferencesStore.h"
#include "session/FocusManager.h"
#include "stats/AnalyticsManager.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

using namespace quillmoss;

namespace {
class BenchClock final : public Clock {
public:
    QDateTime t = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    QDateTime now() const override { return t; }
    std::unique_ptr<ClockTimer> createTimer() override { return SystemClock::instance().createTimer(); }
    void callLater(int, QObject *, std::function<void()>) override {}
};
struct NoEnforcement final : EnforcementPort {
    void applyBlocking() override {}
    void stopMonitoring() override {}
    bool isMonitoring() const override { return false; }
};
struct NoNotifications final : NotificationPort {
    void queryAuthorization(std::function<void(NotificationAuthorization)>) override {}
    void requestAuthorization(std::function<void(bool)>) override {}
    void post(const QString &, const QString &, const QString &) override {}
};
struct NoSounds final : SoundPort {
    void play(SoundEvent) override {}
};

void BM_EngineTick(benchmark::State &state) {
    PreferencesStore prefs;
    BenchClock clock;
    NoEnforcement enforcement;
    NoNotifications notifications;
    NoSounds sounds;
    DeviceIDManager ids(prefs, [] { return QStringLiteral("bench"); });
    AnalyticsManager stats(prefs, nullptr, clock, ids);
    FocusManager engine({prefs, clock, enforcement, notifications, sounds, stats, ids, nullptr});
    // A long plan of many blocks, evaluated near its end: the worst case.
    SessionPlan plan;
    for (int i = 0; i < 24; ++i) plan.append(SessionBlock::make(i % 2 ? BlockType::Break : BlockType::Study, 600));
    engine.startSession("Bench", plan, totalDuration(plan));
    clock.t = clock.t.addSecs(23 * 600 + 300);
    engine.updateBlockState();
    for (auto _ : state) {
        engine.updateBlockState();
        benchmark::DoNotOptimize(engine.lastBlockType());
    }
}
BENCHMARK(BM_EngineTick);
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
