#include "support/ManualClock.h"

#include <QCoreApplication>

#include <algorithm>

namespace quillmoss::test {

class ManualTimer final : public ClockTimer {
public:
    explicit ManualTimer(ManualClock *clock) : m_clock(clock) { m_clock->m_timers.push_back(this); }
    ~ManualTimer() override {
        if (m_clock) std::erase(m_clock->m_timers, this);
    }
    void start(int intervalMs) override {
        m_interval = std::max(1, intervalMs);
        m_nextDue = m_clock->m_now.toMSecsSinceEpoch() + m_interval;
        m_active = true;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    ManualClock *m_clock;
    qint64 m_interval = 1000;
    qint64 m_nextDue = 0;
    bool m_active = false;
    void fire() {
        m_nextDue += m_interval;
        emit timeout();
    }
};

ManualClock::ManualClock(QDateTime start) : m_now(std::move(start)) {}

ManualClock::~ManualClock() {
    for (auto *t : m_timers) t->m_clock = nullptr;
}

std::unique_ptr<ClockTimer> ManualClock::createTimer() { return std::make_unique<ManualTimer>(this); }

void ManualClock::callLater(int delayMs, QObject *context, std::function<void()> action) {
    m_pending.push_back({m_now.toMSecsSinceEpoch() + std::max(0, delayMs), m_order++, QPointer<QObject>(context),
                         context != nullptr, std::move(action)});
}

int ManualClock::activeTimerCount() const {
    return static_cast<int>(std::count_if(m_timers.begin(), m_timers.end(), [](auto *t) { return t->m_active; }));
}

void ManualClock::drainMainQueue() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void ManualClock::advance(qint64 ms) {
    const qint64 target = m_now.toMSecsSinceEpoch() + ms;
    drainMainQueue();
    for (;;) {
        // The earliest due thing among active timers and pending calls;
        // on a tie, delayed calls go before timers, each in creation order.
        ManualTimer *timer = nullptr;
        for (auto *t : m_timers)
            if (t->m_active && t->m_nextDue <= target && (!timer || t->m_nextDue < timer->m_nextDue)) timer = t;
        auto pending = m_pending.end();
        for (auto it = m_pending.begin(); it != m_pending.end(); ++it)
            if (it->dueMs <= target &&
                (pending == m_pending.end() || it->dueMs < pending->dueMs ||
                 (it->dueMs == pending->dueMs && it->order < pending->order)))
                pending = it;
        if (pending != m_pending.end() && (!timer || pending->dueMs <= timer->m_nextDue)) {
            Pending p = std::move(*pending);
            m_pending.erase(pending);
            m_now = QDateTime::fromMSecsSinceEpoch(p.dueMs, Qt::UTC);
            if (!p.hasContext || p.context) p.action();
        } else if (timer) {
            m_now = QDateTime::fromMSecsSinceEpoch(timer->m_nextDue, Qt::UTC);
            timer->fire();
        } else {
            break;
        }
        drainMainQueue();
    }
    m_now = QDateTime::fromMSecsSinceEpoch(target, Qt::UTC);
    drainMainQueue();
}

} // namespace quillmoss::test
