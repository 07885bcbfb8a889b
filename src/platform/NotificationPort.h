#pragma once

#include <QString>

#include <functional>

namespace quillmoss {

enum class NotificationAuthorization { NotDetermined, Denied, Authorized, Provisional };

// Desktop notifications: a permission state, a request, and immediate delivery
// of a title and a body. Callbacks run on the main thread, possibly later.
class NotificationPort {
public:
    virtual ~NotificationPort() = default;
    virtual void queryAuthorization(std::function<void(NotificationAuthorization)> done) = 0;
    virtual void requestAuthorization(std::function<void(bool granted)> done) = 0;
    // `identifier` is unique per request; no sound.
    virtual void post(const QString &identifier, const QString &title, const QString &body) = 0;
};

} // namespace quillmoss
