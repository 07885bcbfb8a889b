#pragma once

#include "platform/NotificationPort.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <functional>
#include <optional>

class QDBusPendingCallWatcher;

namespace quillmoss {

// --- Helpers shared by the session-bus adapters ---------------------------

// Desktop services can be missing or hung; nothing here may wait for them.
inline constexpr int kDBusCallTimeoutMs = 2000;

// Sends `call` and returns at once. `done` runs on the thread of `context` with
// the reply, or with an error message when the bus is gone, the service is
// missing or `timeoutMs` passes; never inside this call. Nothing runs once
// `context` is destroyed. The returned watcher belongs to `context` and deletes
// itself after `done`.
QDBusPendingCallWatcher *callDBusAsync(const QDBusConnection &bus, const QDBusMessage &call, int timeoutMs,
                                       QObject *context, std::function<void(const QDBusMessage &reply)> done);

// A service that is away is worth one console line, not one per call. The
// line is printed again only after the service has answered in between.
class DBusOutageLog {
public:
    explicit DBusOutageLog(QString what) : m_what(std::move(what)) {}
    void failed(const QDBusMessage &error);
    void answered() { m_down = false; }
    bool isDown() const { return m_down; }

private:
    QString m_what;
    bool m_down = false;
};

// --- Desktop notifications ------------------------------------------------

// Notifications through org.freedesktop.Notifications. There is no permission
// dialog on this desktop: a notification server that answers counts as
// permission, a missing or silent one as refusal.
class DBusNotifications final : public QObject, public NotificationPort {
    Q_OBJECT
public:
    explicit DBusNotifications(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    void queryAuthorization(std::function<void(NotificationAuthorization)> done) override;
    void requestAuthorization(std::function<void(bool granted)> done) override;
    void post(const QString &identifier, const QString &title, const QString &body) override;

private:
    void askCapabilities(std::function<void(bool answered)> done);
    void sendNotify(const QString &title, const QString &body);

    QDBusConnection m_bus;
    int m_timeoutMs = kDBusCallTimeoutMs;
    DBusOutageLog m_outage{QStringLiteral("Desktop notifications unavailable: ")};
    // Whether the server reads the body as markup; unknown until it has answered.
    std::optional<bool> m_bodyMarkup;
};

} // namespace quillmoss
