#pragma once

#include <avahi-common/watch.h>

namespace quillmoss {

// Avahi's main-loop interface on the Qt event loop: file descriptor watches as
// QSocketNotifiers and timeouts as single-shot QTimers, all on the thread that
// created the poll (the main thread). Debian ships no Qt 6 binding for this.
class AvahiQtPoll {
public:
    AvahiQtPoll();
    AvahiQtPoll(const AvahiQtPoll &) = delete;
    AvahiQtPoll &operator=(const AvahiQtPoll &) = delete;

    const AvahiPoll *api() const { return &m_api; }

private:
    AvahiPoll m_api;
};

} // namespace quillmoss
