#pragma once

#include "platform/Clock.h"

#include <QPointer>

#include <vector>

namespace quillmoss::test {

// A clock that only moves when a test advances it. Timers and delayed calls
// fire in due order during advance(); the main queue is drained after each.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC));
    ~ManualClock() override;

    QDateTime now() const override { return m_now; }
    std::unique_ptr<ClockTimer> createTimer() override;
    void callLater(int delayMs, QObject *context, std::function<void()> action) override;

    void advance(qint64 ms);
    void advanceSeconds(double seconds) { advance(static_cast<qint64>(seconds * 1000)); }
    void setNow(const QDateTime &t) { m_now = t; }
    int activeTimerCount() const;

    // Runs everything posted to the main queue.
    static void drainMainQueue();

private:
    friend class ManualTimer;
    struct Pending {
        qint64 dueMs;
        quint64 order;
        QPointer<QObject> context;
        bool hasContext;
        std::function<void()> action;
    };
    QDateTime m_now;
    std::vector<class ManualTimer *> m_timers;
    std::vector<Pending> m_pending;
    quint64 m_order = 0;
};

} // namespace quillmoss::test
