#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace quillmoss::test {

// A dbus-daemon of the test's own, without service activation, so that a name
// nobody owns answers ServiceUnknown at once. Killed by its PID on destruction.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    bool isRunning() const { return !m_address.isEmpty(); }
    // A new connection of its own; closed when the bus is torn down.
    QDBusConnection connect();

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

} // namespace quillmoss::test
