#include "AccessibilitySwitch.h"

#include "XTestKeyboard.h"
#include "platform/Console.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace quillmoss {

namespace {
const QString kService = QStringLiteral("org.a11y.Bus");
const QString kPath = QStringLiteral("/org/a11y/bus");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kStatus = QStringLiteral("org.a11y.Status");
const QString kEnabled = QStringLiteral("IsEnabled");

// Runs `handler` with the finished call on the main thread.
void whenFinished(const QDBusPendingCall &call, QObject *context,
                  std::function<void(const QDBusPendingCall &)> handler) {
    auto *watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [handler = std::move(handler)](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         handler(*finished);
                     });
}
} // namespace

AccessibilitySwitch::AccessibilitySwitch(QObject *parent) : AccessibilitySwitch(Options{}, parent) {}

AccessibilitySwitch::AccessibilitySwitch(const Options &options, QObject *parent)
    : AccessibilityPort(parent), m_options(options) {
    m_connectionName = QStringLiteral("quillmoss-a11y-switch-%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
    QDBusConnection bus = options.sessionBusAddress.isEmpty()
                              ? QDBusConnection::sessionBus()
                              : QDBusConnection::connectToBus(options.sessionBusAddress, m_connectionName);
    if (bus.isConnected())
        m_bus = bus;
    m_windowControl = XTestKeyboard::isDisplayAvailable(options.displayName);
    refresh();
}

AccessibilitySwitch::~AccessibilitySwitch() {
    m_bus.reset();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

QDBusPendingCall AccessibilitySwitch::asyncCall(const QString &interface, const QString &method,
                                                const QVariantList &arguments, bool autoStart) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    message.setArguments(arguments);
    message.setAutoStartService(autoStart);
    return m_bus->asyncCall(message, m_options.timeoutMs);
}

void AccessibilitySwitch::publish(bool authorized) {
    const bool windowControl = XTestKeyboard::isDisplayAvailable(m_options.displayName);
    if (windowControl != m_windowControl) {
        m_windowControl = windowControl;
        emit windowControlAvailableChanged(windowControl);
    }
    if (authorized != m_authorized) {
        m_authorized = authorized;
        emit authorizedChanged(authorized);
    }
}

void AccessibilitySwitch::finishLater(const std::function<void(bool)> &done, bool authorized) {
    if (!done)
        return;
    QMetaObject::invokeMethod(
        this, [done, authorized] { done(authorized); }, Qt::QueuedConnection);
}

void AccessibilitySwitch::refresh() {
    query({});
}

void AccessibilitySwitch::query(std::function<void(bool)> done) {
    if (!m_bus) {
        if (!m_reportedNoBus)
            consoleLine(QStringLiteral("Accessibility: no session bus; browser tabs cannot be read"));
        m_reportedNoBus = true;
        publish(false);
        finishLater(done, false);
        return;
    }
    // Reading the state must not start the accessibility bus by itself.
    whenFinished(asyncCall(kProperties, QStringLiteral("Get"), {kStatus, kEnabled}, false), this,
                 [this, done](const QDBusPendingCall &call) {
                     QDBusPendingReply<QDBusVariant> enabled = call;
                     if (enabled.isError() || !enabled.value().variant().toBool()) {
                         publish(false);
                         if (done)
                             done(false);
                         return;
                     }
                     whenFinished(asyncCall(kService, QStringLiteral("GetAddress"), {}, false), this,
                                  [this, done](const QDBusPendingCall &addressCall) {
                                      QDBusPendingReply<QString> address = addressCall;
                                      const bool answers = !address.isError() && !address.value().isEmpty();
                                      publish(answers);
                                      if (done)
                                          done(answers);
                                  });
                 });
}

void AccessibilitySwitch::requestAccess(std::function<void(bool authorized)> done) {
    if (!m_bus) {
        query(std::move(done));
        return;
    }
    // Starts the accessibility bus launcher if it is not running yet.
    whenFinished(asyncCall(kProperties, QStringLiteral("Set"),
                           {kStatus, kEnabled, QVariant::fromValue(QDBusVariant(true))}, true),
                 this, [this, done](const QDBusPendingCall &call) {
                     if (call.isError()) {
                         consoleLine(QStringLiteral("Accessibility: could not switch accessibility on: ") +
                                     call.error().message());
                         publish(false);
                         if (done)
                             done(false);
                         return;
                     }
                     query(done);
                 });
}

} // namespace quillmoss
