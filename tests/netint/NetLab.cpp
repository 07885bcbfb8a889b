#include "NetLab.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace quillmoss::netlab {

bool waitFor(const std::function<bool()> &condition, int timeoutMs) {
    if (condition()) return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    const auto check = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                                        &loop, [&] {
                                            if (condition()) loop.quit();
                                        });
    loop.exec();
    QObject::disconnect(check);
    return condition();
}

// ---- LabProcess -------------------------------------------------------------------

LabProcess::LabProcess() : m_process(std::make_unique<QProcess>()) {}

LabProcess::~LabProcess() { stop(); }

bool LabProcess::start(const QString &netnsPath, bool privateRun, const QString &program, const QStringList &args,
                       const QStringList &environment) {
    // Opened here: after fork only async-signal-safe calls are allowed.
    const int netns = ::open(QFile::encodeName(netnsPath).constData(), O_RDONLY | O_CLOEXEC);
    if (netns < 0) return false;
    m_process->setChildProcessModifier([netns, privateRun] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::setns(netns, CLONE_NEWNET) != 0) ::_exit(126);
        if (privateRun && (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                           ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0))
            ::_exit(126);
    });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : environment) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        env.insert(entry.left(eq), entry.mid(eq + 1));
    }
    m_process->setProcessEnvironment(env);
    m_process->start(program, args);
    const bool started = m_process->waitForStarted(10000);
    ::close(netns);
    m_pid = started ? m_process->processId() : 0;
    return started;
}

void LabProcess::stop(int graceMs) {
    if (m_pid <= 0 || m_process->state() == QProcess::NotRunning) return;
    ::kill(pid_t(m_pid), SIGTERM);
    if (!m_process->waitForFinished(graceMs)) {
        ::kill(pid_t(m_pid), SIGKILL);
        m_process->waitForFinished(10000);
    }
}

// ---- Harness ------------------------------------------------------------------------

Harness::~Harness() { quit(); }

bool Harness::start(const QString &netnsPath, const QString &program, const QString &configHome,
                    const QString &busAddress, const QString &deviceName, const QStringList &args) {
    QProcess &p = m_process.process();
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&p, &QProcess::readyReadStandardOutput, &p, [this] { readLines(); });
    if (!m_process.start(netnsPath, false, program, args,
                         {QStringLiteral("XDG_CONFIG_HOME=") + configHome,
                          QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + busAddress,
                          QStringLiteral("QUILLMOSS_DEVICE_NAME=") + deviceName}))
        return false;
    const QString ready = next(QStringLiteral("ready "));
    if (ready.isNull()) return false;
    m_ready = QJsonDocument::fromJson(ready.mid(6).toUtf8()).object();
    return !deviceId().isEmpty();
}

void Harness::readLines() {
    m_buffer += m_process.process().readAllStandardOutput();
    for (qsizetype end; (end = m_buffer.indexOf('\n')) >= 0;) {
        m_lines << QString::fromUtf8(m_buffer.left(end));
        m_buffer.remove(0, end + 1);
    }
}

void Harness::send(const QString &line) {
    if (!isRunning()) return;
    m_process.process().write(line.toUtf8() + '\n');
    m_process.process().waitForBytesWritten(5000);
}

void Harness::quit() {
    if (!isRunning()) return;
    send(QStringLiteral("quit"));
    if (!m_process.process().waitForFinished(5000)) m_process.stop(1000);
}

QString Harness::next(const std::function<bool(const QString &)> &match, int timeoutMs) {
    QString found;
    waitFor(
        [&] {
            while (m_consumed < m_lines.size()) {
                const QString &line = m_lines[m_consumed++];
                if (match(line)) {
                    found = line;
                    return true;
                }
            }
            return !isRunning() && m_process.process().bytesAvailable() == 0;
        },
        timeoutMs);
    return found;
}

QString Harness::next(const QString &prefix, int timeoutMs) {
    return next([&](const QString &line) { return line.startsWith(prefix); }, timeoutMs);
}

bool Harness::saw(const QString &prefix) const {
    return std::any_of(m_lines.cbegin(), m_lines.cend(), [&](const QString &l) { return l.startsWith(prefix); });
}

QJsonObject Harness::state(int timeoutMs) {
    // Read past the event lines without consuming them: a test may wait for
    // one of them after asking for the state.
    qsizetype at = m_lines.size();
    send(QStringLiteral("state"));
    QString line;
    waitFor(
        [&] {
            for (; at < m_lines.size(); ++at)
                if (m_lines[at].startsWith(QLatin1String("state "))) {
                    line = m_lines[at];
                    m_lines.removeAt(at);
                    return true;
                }
            return !isRunning();
        },
        timeoutMs);
    return line.isNull() ? QJsonObject() : QJsonDocument::fromJson(line.mid(6).toUtf8()).object();
}

QJsonObject Harness::stateWhen(const std::function<bool(const QJsonObject &)> &condition, int timeoutMs) {
    QJsonObject last;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && isRunning()) {
        last = state(int(std::max<qint64>(1, deadline.remainingTime())));
        if (!last.isEmpty() && condition(last)) return last;
        // Ask again once something happened (any event line), not on a timer.
        const qsizetype seen = m_lines.size();
        waitFor([&] { return m_lines.size() > seen || !isRunning(); },
                int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return last;
}

// ---- NetLab ---------------------------------------------------------------------------

NetLab::NetLab() : m_prefix(QStringLiteral("qmnet%1").arg(::getpid())) {}

NetLab::~NetLab() { tearDown(); }

QString NetLab::program(const QString &name) {
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty()) return found;
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                 QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
}

bool NetLab::ip(const QStringList &args, QString *error) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program(QStringLiteral("ip")), args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
        if (error) *error = QStringLiteral("ip ") + args.join(QLatin1Char(' ')) + QStringLiteral(": timed out");
        return false;
    }
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return true;
    if (error)
        *error = QStringLiteral("ip ") + args.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                 QString::fromLocal8Bit(p.readAll()).trimmed();
    return false;
}

// Namespaces left behind by a lab whose process was killed before teardown.
void NetLab::removeStaleNamespaces() {
    static const QRegularExpression ours(QStringLiteral("^qmnet(\\d+)-"));
    const QStringList names = QDir(QStringLiteral("/run/netns")).entryList(QDir::Files | QDir::System);
    for (const QString &name : names) {
        const auto m = ours.match(name);
        if (m.hasMatch() && !QFile::exists(QStringLiteral("/proc/") + m.captured(1)))
            ip({QStringLiteral("netns"), QStringLiteral("del"), name}, nullptr);
    }
}

bool NetLab::setUp(int hosts, QString *error) {
    m_refused = true;
    if (::geteuid() != 0) {
        *error = QStringLiteral("network namespaces need root");
        return false;
    }
    if (program(QStringLiteral("ip")).isEmpty()) {
        *error = QStringLiteral("no ip program (iproute2)");
        return false;
    }
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    removeStaleNamespaces();
    m_hub = m_prefix + QStringLiteral("-hub");
    if (!ip({QStringLiteral("netns"), QStringLiteral("add"), m_hub}, error)) {
        m_hub.clear();
        return false;
    }
    m_refused = false;
    const auto hubIp = [&](QStringList args) {
        return ip(QStringList{QStringLiteral("-n"), m_hub} + args, error);
    };
    // Snooping off: the bridge floods multicast to every port, like a plain switch.
    if (!hubIp({QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("br0"), QStringLiteral("type"),
                QStringLiteral("bridge"), QStringLiteral("mcast_snooping"), QStringLiteral("0")}) ||
        !hubIp({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("br0"), QStringLiteral("up")}))
        return false;
    for (int i = 0; i < hosts; ++i) {
        Host host;
        host.netns = m_prefix + QStringLiteral("-h%1").arg(i);
        host.dir = m_dir.filePath(QStringLiteral("host%1").arg(i));
        QDir().mkpath(host.dir);
        if (!ip({QStringLiteral("netns"), QStringLiteral("add"), host.netns}, error)) return false;
        m_hosts.push_back(std::move(host));
        const QString ns = m_hosts.back().netns;
        const QString port = QStringLiteral("p%1").arg(i);
        const auto hostIp = [&](QStringList args) {
            return ip(QStringList{QStringLiteral("-n"), ns} + args, error);
        };
        if (!hubIp({QStringLiteral("link"), QStringLiteral("add"), port, QStringLiteral("type"), QStringLiteral("veth"),
                    QStringLiteral("peer"), QStringLiteral("name"), QStringLiteral("eth0"), QStringLiteral("netns"),
                    ns}) ||
            !hubIp({QStringLiteral("link"), QStringLiteral("set"), port, QStringLiteral("master"),
                    QStringLiteral("br0"), QStringLiteral("up")}) ||
            !hostIp({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}) ||
            !hostIp({QStringLiteral("addr"), QStringLiteral("add"), address(i) + QStringLiteral("/24"),
                     QStringLiteral("dev"), QStringLiteral("eth0")}) ||
            !hostIp({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("eth0"), QStringLiteral("up"),
                     QStringLiteral("multicast"), QStringLiteral("on")}) ||
            !hostIp({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("224.0.0.0/4"),
                     QStringLiteral("dev"), QStringLiteral("eth0")}))
            return false;
    }
    for (int i = 0; i < hosts; ++i)
        if (!startDaemons(i, error)) return false;
    return true;
}

bool NetLab::startDaemons(int index, QString *error) {
    Host &host = m_hosts[size_t(index)];
    const QString socket = host.dir + QStringLiteral("/system_bus");
    host.bus = std::make_unique<LabProcess>();
    if (!host.bus->start(netnsPath(index), false, program(QStringLiteral("dbus-daemon")),
                         {QStringLiteral("--config-file=/usr/share/dbus-1/system.conf"),
                          QStringLiteral("--address=unix:path=") + socket, QStringLiteral("--nofork"),
                          QStringLiteral("--nopidfile")},
                         {})) {
        *error = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    if (!waitFor([&] { return QFile::exists(socket) || !host.bus->isRunning(); }, 15000) || !QFile::exists(socket)) {
        *error = QStringLiteral("dbus-daemon made no socket: ") +
                 QString::fromLocal8Bit(host.bus->process().readAllStandardError());
        return false;
    }

    const QString conf = host.dir + QStringLiteral("/avahi-daemon.conf");
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write ") + conf;
        return false;
    }
    file.write(QStringLiteral("[server]\nhost-name=qmlab-host%1\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=eth0\n"
                              "enable-dbus=yes\ndisallow-other-stacks=no\n"
                              "[wide-area]\nenable-wide-area=no\n"
                              "[publish]\npublish-hinfo=no\npublish-workstation=no\n"
                              "[reflector]\nenable-reflector=no\n")
                   .arg(index)
                   .toUtf8());
    file.close();
    host.avahi = std::make_unique<LabProcess>();
    QProcess &avahi = host.avahi->process();
    avahi.setProcessChannelMode(QProcess::MergedChannels);
    if (!host.avahi->start(netnsPath(index), true, program(QStringLiteral("avahi-daemon")),
                           {QStringLiteral("-f"), conf, QStringLiteral("--no-chroot"), QStringLiteral("--no-drop-root"),
                            QStringLiteral("--no-rlimits")},
                           {QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + busAddress(index)})) {
        *error = QStringLiteral("avahi-daemon did not start");
        return false;
    }
    QByteArray log;
    const bool up = waitFor(
        [&] {
            log += avahi.readAll();
            return log.contains("Server startup complete") || !host.avahi->isRunning();
        },
        15000);
    if (!up || !log.contains("Server startup complete")) {
        *error = QStringLiteral("avahi-daemon did not come up: ") + QString::fromLocal8Bit(log);
        return false;
    }
    return true;
}

void NetLab::tearDown() {
    for (Host &host : m_hosts) {
        if (host.avahi) host.avahi->stop();
        if (host.bus) host.bus->stop();
        ip({QStringLiteral("netns"), QStringLiteral("del"), host.netns}, nullptr);
    }
    m_hosts.clear();
    if (!m_hub.isEmpty()) ip({QStringLiteral("netns"), QStringLiteral("del"), m_hub}, nullptr);
    m_hub.clear();
}

QString NetLab::address(int host) const { return QStringLiteral("10.77.0.%1").arg(host + 1); }

QString NetLab::netnsPath(int host) const { return QStringLiteral("/run/netns/") + m_hosts[size_t(host)].netns; }

QString NetLab::busAddress(int host) const {
    return QStringLiteral("unix:path=") + m_hosts[size_t(host)].dir + QStringLiteral("/system_bus");
}

QString NetLab::newConfigHome() {
    const QString path = m_dir.filePath(QStringLiteral("config%1").arg(m_configHomes++));
    QDir().mkpath(path);
    return path;
}

QByteArray NetLab::runIn(int host, const QString &programPath, const QStringList &args, int timeoutMs) {
    LabProcess p;
    if (!p.start(netnsPath(host), false, programPath, args, {})) return {};
    QProcess &process = p.process();
    QByteArray out;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                     [&] { out += process.readAllStandardOutput(); });
    if (!waitFor([&] { return !p.isRunning(); }, timeoutMs)) return {};
    out += process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
    return out;
}

} // namespace quillmoss::netlab
