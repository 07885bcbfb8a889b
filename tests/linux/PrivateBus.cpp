#include "PrivateBus.h"

#include <QDeadlineTimer>
#include <QFile>

#include <csignal>
#include <sys/prctl.h>

namespace quillmoss::test {

PrivateBus::PrivateBus() {
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)").arg(m_dir.filePath(QStringLiteral("socket"))).toUtf8());
    file.close();

    // Should the test die, the daemon goes with it.
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!m_daemon.waitForStarted(10000))
        return;
    const QDeadlineTimer deadline(10000);
    while (!m_daemon.canReadLine() && m_daemon.state() == QProcess::Running && !deadline.hasExpired())
        m_daemon.waitForReadyRead(int(deadline.remainingTime()));
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString &name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_daemon.processId()), SIGTERM);
    if (!m_daemon.waitForFinished(10000)) {
        ::kill(pid_t(m_daemon.processId()), SIGKILL);
        m_daemon.waitForFinished(10000);
    }
}

QDBusConnection PrivateBus::connect() {
    static int serial = 0;
    const QString name = QStringLiteral("private-bus-%1").arg(++serial);
    m_connections << name;
    return QDBusConnection::connectToBus(m_address, name);
}

} // namespace quillmoss::test
