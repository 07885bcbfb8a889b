#include "AvahiQtPoll.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <avahi-common/timeval.h>

#include <algorithm>
#include <limits>
#include <utility>

// Avahi may free a watch or timeout from inside its own callback; the object
// then lives until the callback has returned, and Qt objects whose signal is
// being delivered are only ever released with deleteLater().

struct AvahiWatch {
    int fd = -1;
    AvahiWatchEvent happened = AvahiWatchEvent(0);
    AvahiWatchCallback callback = nullptr;
    void *userdata = nullptr;
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;
    bool dispatching = false;
    bool freed = false;
};

struct AvahiTimeout {
    QTimer *timer = nullptr;
    AvahiTimeoutCallback callback = nullptr;
    void *userdata = nullptr;
    bool dispatching = false;
    bool freed = false;
};

namespace quillmoss {

namespace {

void releaseLater(QObject *object) {
    if (!object)
        return;
    object->disconnect();
    if (auto *notifier = qobject_cast<QSocketNotifier *>(object))
        notifier->setEnabled(false);
    object->deleteLater();
}

void dispatchWatch(AvahiWatch *w, AvahiWatchEvent event) {
    if (w->freed || w->dispatching)
        return;
    w->happened = event;
    w->dispatching = true;
    w->callback(w, w->fd, event, w->userdata);
    w->dispatching = false;
    w->happened = AvahiWatchEvent(0);
    if (w->freed)
        delete w;
}

QSocketNotifier *makeNotifier(AvahiWatch *w, QSocketNotifier::Type type, AvahiWatchEvent event) {
    auto *notifier = new QSocketNotifier(w->fd, type);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [w, event] { dispatchWatch(w, event); });
    return notifier;
}

void watchUpdate(AvahiWatch *w, AvahiWatchEvent events) {
    const bool wantRead = events & (AVAHI_WATCH_IN | AVAHI_WATCH_ERR | AVAHI_WATCH_HUP);
    const bool wantWrite = events & AVAHI_WATCH_OUT;
    if (wantRead && !w->read)
        w->read = makeNotifier(w, QSocketNotifier::Read, AVAHI_WATCH_IN);
    else if (!wantRead && w->read)
        releaseLater(std::exchange(w->read, nullptr));
    if (wantWrite && !w->write)
        w->write = makeNotifier(w, QSocketNotifier::Write, AVAHI_WATCH_OUT);
    else if (!wantWrite && w->write)
        releaseLater(std::exchange(w->write, nullptr));
}

AvahiWatch *watchNew(const AvahiPoll *, int fd, AvahiWatchEvent events, AvahiWatchCallback callback, void *userdata) {
    auto *w = new AvahiWatch;
    w->fd = fd;
    w->callback = callback;
    w->userdata = userdata;
    watchUpdate(w, events);
    return w;
}

AvahiWatchEvent watchGetEvents(AvahiWatch *w) { return w->happened; }

void watchFree(AvahiWatch *w) {
    releaseLater(std::exchange(w->read, nullptr));
    releaseLater(std::exchange(w->write, nullptr));
    if (w->dispatching)
        w->freed = true;
    else
        delete w;
}

void timeoutUpdate(AvahiTimeout *t, const struct timeval *tv) {
    if (!tv) {
        t->timer->stop();
        return;
    }
    // avahi_age() is how far `tv` lies in the past; round a future moment up so
    // that the callback never runs early and spins.
    const AvahiUsec age = avahi_age(tv);
    const qint64 delayMs = age >= 0 ? 0 : (-age + 999) / 1000;
    t->timer->start(int(std::min<qint64>(delayMs, std::numeric_limits<int>::max())));
}

AvahiTimeout *timeoutNew(const AvahiPoll *, const struct timeval *tv, AvahiTimeoutCallback callback, void *userdata) {
    auto *t = new AvahiTimeout;
    t->timer = new QTimer;
    t->timer->setSingleShot(true);
    t->timer->setTimerType(Qt::PreciseTimer);
    t->callback = callback;
    t->userdata = userdata;
    QObject::connect(t->timer, &QTimer::timeout, t->timer, [t] {
        t->dispatching = true;
        t->callback(t, t->userdata);
        t->dispatching = false;
        if (t->freed)
            delete t;
    });
    timeoutUpdate(t, tv);
    return t;
}

void timeoutFree(AvahiTimeout *t) {
    releaseLater(std::exchange(t->timer, nullptr));
    if (t->dispatching)
        t->freed = true;
    else
        delete t;
}

} // namespace

AvahiQtPoll::AvahiQtPoll() {
    m_api.userdata = this;
    m_api.watch_new = watchNew;
    m_api.watch_update = watchUpdate;
    m_api.watch_get_events = watchGetEvents;
    m_api.watch_free = watchFree;
    m_api.timeout_new = timeoutNew;
    m_api.timeout_update = timeoutUpdate;
    m_api.timeout_free = timeoutFree;
}

} // namespace quillmoss
