#pragma once

#include "AtspiBrowserTabs.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace quillmoss::test {

// Spins the event loop until `condition` holds or `timeoutMs` passed.
inline bool waitFor(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Answers every GET with a small page titled after its path.
class TinyHttpServer : public QObject {
public:
    TinyHttpServer();
    quint16 port() const { return m_server.serverPort(); }
    // Called with the path of every request as it arrives (when a browser
    // navigates), for tests that time what follows.
    std::function<void(const QByteArray &path)> onRequest;

private:
    QTcpServer m_server;
};

// Processes a test starts. Each launch runs in its own session and carries a
// marker in its environment, which its descendants inherit (browsers spawn
// helpers that leave the process group); ending a launch ends every process
// with its marker, by PID.
class TestProcesses {
public:
    explicit TestProcesses(const QString &logDirectory);
    ~TestProcesses();

    struct Launch {
        qint64 pid = 0;
        QByteArray tag;
        int stdoutFd = -1; // open when captured
        QString logPath;   // its stderr (and stdout when not captured)
    };
    Launch start(const QString &program, const QStringList &arguments, const QStringList &environment,
                 bool captureStdout = false);
    // Reads one line from a captured stdout, waiting up to `timeoutMs`.
    static QByteArray readLine(int fd, int timeoutMs);
    // Ends every process carrying the launch's marker (SIGTERM, then SIGKILL).
    void end(const Launch &launch);
    void endAll();
    // Whether `pid` belongs to one of these launches.
    bool owns(qint64 pid) const;

private:
    static std::vector<qint64> processesOf(const Launch &launch);
    void reapChildren();

    QString m_logDirectory;
    QByteArray m_runId;
    int m_counter = 0;
    std::vector<Launch> m_launches;
};

// A private desktop for tests: a session bus, an X display with a window
// manager, a home directory. Nothing here touches the machine's own desktop.
class DesktopSession {
public:
    DesktopSession();
    ~DesktopSession();
    // Empty on success, else what failed.
    QString start();
    void stop();

    QString busAddress() const { return m_busAddress; }
    QByteArray display() const { return m_display; }
    QString directory() const { return m_dir.path(); }
    // The environment for programs started on this desktop.
    QStringList environment() const;
    TestProcesses &processes() { return m_processes; }

private:
    QTemporaryDir m_dir;
    TestProcesses m_processes;
    QString m_busAddress;
    qint64 m_busPid = 0;
    QByteArray m_display;
    QString m_xvfbLog;
};

// Command-line options for a Chromium on a closed test network, with a
// profile of its own.
QStringList chromiumArguments(const QString &profile);
// Creates a Firefox profile that skips first-run pages and stays off the network.
bool writeQuietFirefoxProfile(const QString &profile);
// Tab adapter options for `desktop`, counting only the browsers started on
// it (others on this machine are none of ours).
AtspiBrowserTabs::Options browserTabOptions(DesktopSession &desktop);
// Switches the desktop's accessibility on, as a user does during onboarding;
// empty on success, else what failed.
QString switchAccessibilityOn(const DesktopSession &desktop);

// Starts a bare session bus (no desktop) and returns its address; the daemon
// is ended by `processes`. Empty on failure.
QString startSessionBus(TestProcesses &processes, const QString &directory);

} // namespace quillmoss::test
