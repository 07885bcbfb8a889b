#include "ScreenSaverInhibitor.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <utility>

namespace quillmoss {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");

QDBusMessage unInhibitCall(uint cookie) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
    call << cookie;
    return call;
}

// The cookie of a successful Inhibit answer; nothing for an error or an
// answer of the wrong shape.
std::optional<uint> cookieOf(const QDBusMessage &reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return std::nullopt;
    const QVariant cookie = reply.arguments().constFirst();
    if (cookie.metaType() != QMetaType::fromType<uint>())
        return std::nullopt;
    return cookie.toUInt();
}

} // namespace

ScreenSaverInhibitor::ScreenSaverInhibitor(QDBusConnection bus, QObject *parent)
    : IdleInhibitPort(parent), m_bus(std::move(bus)) {
    // A screen saver that restarts has forgotten our hold; say so, so that the
    // caller asks again on its next pass.
    m_ownerWatcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_ownerWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &ScreenSaverInhibitor::onOwnerChanged);
}

ScreenSaverInhibitor::~ScreenSaverInhibitor() {
    if (m_cookie)
        m_bus.send(unInhibitCall(*m_cookie));
    if (!m_request)
        return;
    // An Inhibit is still under way: whatever cookie it brings back must be
    // returned even though nobody is left to hold it.
    QDBusPendingCallWatcher *orphan = m_request;
    orphan->disconnect(this);
    orphan->setParent(nullptr);
    QObject::connect(orphan, &QDBusPendingCallWatcher::finished, orphan,
                     [bus = m_bus](QDBusPendingCallWatcher *finished) mutable {
                         finished->deleteLater();
                         if (const auto cookie = cookieOf(finished->reply()))
                             bus.send(unInhibitCall(*cookie));
                     });
}

void ScreenSaverInhibitor::inhibit(const QString &reason) {
    if (m_cookie)
        return;
    m_requestWanted = true;
    if (m_request)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("quillmoss") << reason;
    m_request = callDBusAsync(m_bus, call, m_timeoutMs, this,
                              [this](const QDBusMessage &reply) { onInhibitReply(reply); });
}

void ScreenSaverInhibitor::release() {
    m_requestWanted = false;
    if (!m_cookie)
        return;
    // No answer is awaited: if the service is gone, so is the hold.
    m_bus.send(unInhibitCall(*m_cookie));
    m_cookie.reset();
    emit inhibitedChanged(false);
}

void ScreenSaverInhibitor::onInhibitReply(const QDBusMessage &reply) {
    m_request = nullptr;
    const bool wanted = std::exchange(m_requestWanted, false);
    const std::optional<uint> cookie = cookieOf(reply);
    if (!cookie) {
        const QDBusMessage error = reply.type() == QDBusMessage::ErrorMessage
                                       ? reply
                                       : QDBusMessage::createError(QDBusError::InvalidSignature,
                                                                   QStringLiteral("Inhibit answered without a cookie"));
        m_outage.failed(error);
        if (wanted)
            emit inhibitFailed(error.errorName() + QStringLiteral(": ") + error.errorMessage());
        return;
    }
    m_outage.answered();
    if (!wanted) {
        // Released while the answer was on its way.
        m_bus.send(unInhibitCall(*cookie));
        return;
    }
    m_cookie = cookie;
    emit inhibitedChanged(true);
}

void ScreenSaverInhibitor::onOwnerChanged() {
    if (!m_cookie)
        return;
    m_cookie.reset();
    emit inhibitedChanged(false);
}

} // namespace quillmoss
