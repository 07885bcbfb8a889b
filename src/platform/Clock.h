#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>
#include <memory>

namespace quillmoss {

// A repeating timer created by a Clock. Emits timeout() every interval until
// stopped or destroyed.
class ClockTimer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ClockTimer() override = default;
    virtual void start(int intervalMs) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
signals:
    void timeout();
};

// The source of the present instant and of timers. The app uses the system
// clock; tests drive a ManualClock so that no test has to sleep.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // A timer owned by the caller (parented to `parent` when given).
    virtual std::unique_ptr<ClockTimer> createTimer() = 0;
    // Runs `action` once after `delayMs`, on the main thread, unless `context`
    // has been destroyed by then.
    virtual void callLater(int delayMs, QObject *context, std::function<void()> action) = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    std::unique_ptr<ClockTimer> createTimer() override;
    void callLater(int delayMs, QObject *context, std::function<void()> action) override;
    static SystemClock &instance();
};

// Runs `action` later on the main thread's event queue ("the main queue"), in
// posting order, unless `context` is gone by then.
void postToMainQueue(QObject *context, std::function<void()> action);

} // namespace quillmoss
