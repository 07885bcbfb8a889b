#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <utility>
#include <vector>

namespace quillmoss::test {

// A notification server that records what it is sent. With `hang` set it
// takes calls and never answers them.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notification {
        QString appName;
        uint replacesId;
        QString icon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout;
    };
    explicit FakeNotificationServer(QDBusConnection bus) : m_bus(std::move(bus)) {}
    bool serve() {
        return m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                    QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    bool withdraw() { return m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications")); }

    QStringList capabilities{QStringLiteral("body")};
    bool hang = false;
    int callsTaken = 0;
    std::vector<Notification> received;

public slots:
    QStringList GetCapabilities() {
        ++callsTaken;
        if (hang)
            setDelayedReply(true);
        return capabilities;
    }
    uint Notify(const QString &appName, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout) {
        ++callsTaken;
        received.push_back({appName, replacesId, icon, summary, body, actions, hints, expireTimeout});
        return uint(received.size());
    }

private:
    QDBusConnection m_bus;
};

// A screen saver that hands out cookies and records what it is given back.
// With `holdAnswers` set, Inhibit answers wait until answerHeld().
class FakeScreenSaver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    explicit FakeScreenSaver(QDBusConnection bus) : m_bus(std::move(bus)) {}
    bool serve() {
        return m_bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), this,
                                    QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
    }
    bool withdraw() { return m_bus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver")); }
    void answerHeld() {
        for (const auto &[call, cookie] : std::exchange(m_held, {}))
            m_bus.send(call.createReply(QVariant::fromValue(cookie)));
    }

    bool holdAnswers = false;
    std::vector<std::pair<QString, QString>> inhibits; // application, reason
    std::vector<uint> cookiesGiven;
    std::vector<uint> cookiesReturned;

public slots:
    uint Inhibit(const QString &application, const QString &reason) {
        inhibits.emplace_back(application, reason);
        const uint cookie = 7000 + uint(inhibits.size());
        cookiesGiven.push_back(cookie);
        if (holdAnswers) {
            setDelayedReply(true);
            m_held.emplace_back(message(), cookie);
        }
        return cookie;
    }
    void UnInhibit(uint cookie) { cookiesReturned.push_back(cookie); }

private:
    QDBusConnection m_bus;
    std::vector<std::pair<QDBusMessage, uint>> m_held;
};

} // namespace quillmoss::test
