#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

namespace quillmoss::netlab {

// Runs the event loop until `condition` holds or `timeoutMs` passes. The
// condition is checked whenever the loop is about to wait, so a figure taken
// around it carries no polling delay.
bool waitFor(const std::function<bool()> &condition, int timeoutMs);

// A process of the lab: started inside a host's network namespace, killed by
// its PID when it is not gone by itself, and killed by the kernel if the lab's
// process dies first.
class LabProcess {
public:
    LabProcess();
    ~LabProcess();
    LabProcess(const LabProcess &) = delete;
    LabProcess &operator=(const LabProcess &) = delete;

    // `privateRun`: a mount namespace of its own with an empty /run (each
    // avahi-daemon keeps its pid file and socket there).
    bool start(const QString &netnsPath, bool privateRun, const QString &program, const QStringList &args,
               const QStringList &environment);
    qint64 pid() const { return m_pid; }
    bool isRunning() const { return m_process->state() != QProcess::NotRunning; }
    // SIGTERM, then SIGKILL after `graceMs`.
    void stop(int graceMs = 5000);

    QProcess &process() { return *m_process; }

private:
    std::unique_ptr<QProcess> m_process;
    qint64 m_pid = 0;
};

// One peer_harness, read line by line.
class Harness {
public:
    Harness() = default;
    ~Harness();

    bool start(const QString &netnsPath, const QString &program, const QString &configHome, const QString &busAddress,
               const QString &deviceName, const QStringList &args = {});
    void send(const QString &line);
    // Quits through its stdin and waits; kills it by PID if it does not go.
    void quit();
    bool isRunning() const { return m_process.isRunning(); }
    qint64 pid() const { return m_process.pid(); }

    // Waits for a line after those already consumed that `match` accepts, and
    // returns it (null when none came within `timeoutMs`). Lines before it are
    // consumed with it.
    QString next(const std::function<bool(const QString &)> &match, int timeoutMs = 15000);
    QString next(const QString &prefix, int timeoutMs = 15000);
    // Whether any line so far (consumed or not) starts with `prefix`.
    bool saw(const QString &prefix) const;
    // A fresh state report.
    QJsonObject state(int timeoutMs = 15000);
    // Waits until a state report satisfies `condition`, asking again after
    // each event line; returns the last report.
    QJsonObject stateWhen(const std::function<bool(const QJsonObject &)> &condition, int timeoutMs = 15000);

    const QJsonObject &ready() const { return m_ready; }
    QString deviceId() const { return m_ready.value(QLatin1String("deviceId")).toString(); }
    QString peerKey() const { return m_ready.value(QLatin1String("peerKey")).toString(); }
    const QStringList &lines() const { return m_lines; }

private:
    void readLines();

    LabProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
    qsizetype m_consumed = 0;
    QJsonObject m_ready;
};

// Network namespaces joined by a bridge: host i has 10.77.0.(i+1)/24 on its
// "eth0", its own system bus and avahi-daemon on that interface only. Nothing
// touches the machine's own interfaces. Teardown (also after a failure) kills
// the daemons by PID and deletes the namespaces.
class NetLab {
public:
    NetLab();
    ~NetLab();

    // False with `*error` when namespaces cannot be made here (not root, no
    // ip netns); the caller skips then.
    bool setUp(int hosts, QString *error);
    // The failure of setUp was that namespaces cannot be made at all.
    bool namespacesRefused() const { return m_refused; }
    void tearDown();

    int hosts() const { return int(m_hosts.size()); }
    QString address(int host) const;
    QString netnsPath(int host) const;
    QString busAddress(int host) const;
    // A directory for a harness's XDG_CONFIG_HOME, new for each call.
    QString newConfigHome();

    // Runs a program to its end inside a host's namespace; its stdout, or a
    // null string when it failed or outlived `timeoutMs`.
    QByteArray runIn(int host, const QString &program, const QStringList &args, int timeoutMs);

    static QString program(const QString &name);

private:
    struct Host {
        QString netns;
        QString dir;
        std::unique_ptr<LabProcess> bus;
        std::unique_ptr<LabProcess> avahi;
    };
    bool ip(const QStringList &args, QString *error);
    bool startDaemons(int index, QString *error);
    void removeStaleNamespaces();

    QTemporaryDir m_dir;
    QString m_prefix;
    QString m_hub;
    std::vector<Host> m_hosts;
    int m_configHomes = 0;
    bool m_refused = false;
};

} // namespace quillmoss::netlab
