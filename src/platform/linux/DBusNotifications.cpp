#include "DBusNotifications.h"

#include "platform/Console.h"

#include <QDBusError>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

namespace quillmoss {

QDBusPendingCallWatcher *callDBusAsync(const QDBusConnection &bus, const QDBusMessage &call, int timeoutMs,
                                       QObject *context, std::function<void(const QDBusMessage &reply)> done) {
    // Without a bus, answer through the same watcher path so that the caller
    // sees one behaviour: a reply later on the main loop, never inline.
    const QDBusPendingCall pending =
        bus.isConnected() ? bus.asyncCall(call, timeoutMs)
                          : QDBusPendingCall::fromCompletedCall(QDBusMessage::createError(
                                QDBusError::Disconnected, QStringLiteral("Not connected to a session bus")));
    auto *watcher = new QDBusPendingCallWatcher(pending, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         if (done)
                             done(finished->reply());
                     });
    return watcher;
}

void DBusOutageLog::failed(const QDBusMessage &error) {
    if (m_down)
        return;
    m_down = true;
    consoleLine(m_what + error.errorName() + QStringLiteral(": ") + error.errorMessage());
}

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Servers that read the body as markup would swallow or reject a subject such
// as "Maths & <Physics>"; only these three characters are significant there.
QString escapeMarkup(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += QStringLiteral("&amp;");
        else if (c == u'<')
            out += QStringLiteral("&lt;");
        else if (c == u'>')
            out += QStringLiteral("&gt;");
        else
            out += c;
    }
    return out;
}

} // namespace

DBusNotifications::DBusNotifications(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)) {}

void DBusNotifications::askCapabilities(std::function<void(bool answered)> done) {
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    callDBusAsync(m_bus, call, m_timeoutMs, this, [this, done = std::move(done)](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            m_outage.failed(reply);
            m_bodyMarkup.reset();
            done(false);
            return;
        }
        m_outage.answered();
        m_bodyMarkup = reply.arguments().value(0).toStringList().contains(QStringLiteral("body-markup"));
        done(true);
    });
}

void DBusNotifications::queryAuthorization(std::function<void(NotificationAuthorization)> done) {
    askCapabilities([done = std::move(done)](bool answered) {
        if (done)
            done(answered ? NotificationAuthorization::Authorized : NotificationAuthorization::Denied);
    });
}

void DBusNotifications::requestAuthorization(std::function<void(bool granted)> done) {
    askCapabilities([done = std::move(done)](bool answered) {
        if (done)
            done(answered);
    });
}

void DBusNotifications::post(const QString &identifier, const QString &title, const QString &body) {
    // The server numbers its notifications itself; the identifier has no use here.
    Q_UNUSED(identifier);
    if (m_bodyMarkup) {
        sendNotify(title, body);
        return;
    }
    askCapabilities([this, title, body](bool answered) {
        if (answered)
            sendNotify(title, body);
    });
}

void DBusNotifications::sendNotify(const QString &title, const QString &body) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("suppress-sound"), true}};
    call << QStringLiteral("quillmoss") << uint(0) << QStringLiteral("app.quillmoss") << title
         << (m_bodyMarkup.value_or(true) ? escapeMarkup(body) : body) << QStringList() << hints << int(-1);
    callDBusAsync(m_bus, call, m_timeoutMs, this, [this](const QDBusMessage &reply) {
        if (reply.type() == QDBusMessage::ReplyMessage) {
            m_outage.answered();
        } else {
            m_outage.failed(reply);
            m_bodyMarkup.reset();
        }
    });
}

} // namespace quillmoss
