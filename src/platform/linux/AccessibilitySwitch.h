#pragma once

#include "platform/AccessibilityPort.h"

#include <QByteArray>
#include <QDBusConnection>

#include <optional>

class QDBusPendingCall;

namespace quillmoss {

// The desktop's accessibility switch: `org.a11y.Status.IsEnabled` on the
// session bus service `org.a11y.Bus`. Turning it on makes applications
// started afterwards (browsers included) expose their accessibility trees.
// Access counts as granted while the switch is on and the accessibility bus
// answers. All bus calls are asynchronous, with a timeout.
class AccessibilitySwitch : public AccessibilityPort {
    Q_OBJECT
public:
    struct Options {
        QString sessionBusAddress; // empty: the desktop session bus
        QByteArray displayName;    // empty: $DISPLAY
        int timeoutMs = 2000;
    };

    explicit AccessibilitySwitch(QObject *parent = nullptr);
    explicit AccessibilitySwitch(const Options &options, QObject *parent = nullptr);
    ~AccessibilitySwitch() override;

    void requestAccess(std::function<void(bool authorized)> done = {}) override;
    void refresh() override;
    bool isAuthorized() const override { return m_authorized; }
    bool isWindowControlAvailable() const override { return m_windowControl; }

private:
    void query(std::function<void(bool)> done);
    void publish(bool authorized);
    void finishLater(const std::function<void(bool)> &done, bool authorized);
    QDBusPendingCall asyncCall(const QString &interface, const QString &method, const QVariantList &arguments,
                               bool autoStart);

    Options m_options;
    QString m_connectionName;
    std::optional<QDBusConnection> m_bus;
    bool m_authorized = false;
    bool m_windowControl = false;
    bool m_reportedNoBus = false;
};

} // namespace quillmoss
