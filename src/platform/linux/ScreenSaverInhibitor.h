#pragma once

#include "DBusNotifications.h"
#include "platform/IdleInhibitPort.h"

#include <QDBusConnection>
#include <QPointer>

#include <optional>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace quillmoss {

// Keeps the display awake through org.freedesktop.ScreenSaver: Inhibit gives a
// cookie, UnInhibit returns it. Every call is asynchronous with a timeout.
class ScreenSaverInhibitor final : public IdleInhibitPort {
    Q_OBJECT
public:
    explicit ScreenSaverInhibitor(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~ScreenSaverInhibitor() override;

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    void inhibit(const QString &reason) override;
    void release() override;
    bool isInhibited() const override { return m_cookie.has_value(); }

private:
    void onInhibitReply(const QDBusMessage &reply);
    void onOwnerChanged();

    QDBusConnection m_bus;
    int m_timeoutMs = kDBusCallTimeoutMs;
    DBusOutageLog m_outage{QStringLiteral("Screen saver inhibition unavailable: ")};
    QDBusServiceWatcher *m_ownerWatcher = nullptr;
    QPointer<QDBusPendingCallWatcher> m_request; // an Inhibit under way
    bool m_requestWanted = false;                // false once released meanwhile
    std::optional<uint> m_cookie;
};

} // namespace quillmoss
