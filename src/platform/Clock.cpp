#include "platform/Clock.h"

#include <QCoreApplication>
#include <QTimer>

namespace quillmoss {

namespace {
class SystemClockTimer final : public ClockTimer {
public:
    SystemClockTimer() {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &ClockTimer::timeout);
    }
    void start(int intervalMs) override { m_timer.start(intervalMs); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};
} // namespace

QDateTime SystemClock::now() const { return QDateTime::currentDateTimeUtc(); }

std::unique_ptr<ClockTimer> SystemClock::createTimer() { return std::make_unique<SystemClockTimer>(); }

void SystemClock::callLater(int delayMs, QObject *context, std::function<void()> action) {
    QTimer::singleShot(delayMs, context, std::move(action));
}

SystemClock &SystemClock::instance() {
    static SystemClock clock;
    return clock;
}

void postToMainQueue(QObject *context, std::function<void()> action) {
    QMetaObject::invokeMethod(context, std::move(action), Qt::QueuedConnection);
}

} // namespace quillmoss
