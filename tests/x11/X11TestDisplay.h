#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>
#include <vector>

struct xcb_connection_t;

namespace quillmoss::test {

// Writes `contents` to `path` atomically (as package managers do), creating
// the folders on the way; false when it cannot.
bool writeFileAtomically(const QString &path, const QByteArray &contents);

// Runs the Qt event loop until `condition` holds or `timeoutMs` has passed;
// returns whether it holds. Checks every few milliseconds.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000);

// A private X server (Xvfb) with an optional window manager (openbox) and the
// clients a test starts on it. Everything runs under a temporary HOME and XDG
// folders; every process is recorded and killed by its PID on destruction.
class X11TestDisplay {
public:
    X11TestDisplay();
    ~X11TestDisplay();
    X11TestDisplay(const X11TestDisplay &) = delete;
    X11TestDisplay &operator=(const X11TestDisplay &) = delete;

    // Starts Xvfb on a free display number; false (with the reason in
    // `error()`) when it cannot.
    bool startServer();
    bool startWindowManager();
    void stopWindowManager();
    // Kills the X server (its clients then lose their connection).
    void stopServer();

    QString displayName() const { return m_display; }
    QString error() const { return m_error; }
    QString tempPath() const { return m_temp.path(); }

    // Starts a client of this display; returns its PID (0 when it could not
    // be started).
    pid_t launch(const QStringList &argv);
    // SIGTERM, then SIGKILL when it has not ended after a few seconds.
    void stop(pid_t pid);

    // Inspection through a connection of the test's own.
    std::vector<uint32_t> clientList();
    std::vector<uint32_t> windowsOfClass(const QString &wmClass);
    bool isIconic(uint32_t window);
    bool hasWindowManager();
    // Asks the window manager to activate (and so de-iconify) a window, as a
    // pager does.
    void activate(uint32_t window);
    // Maps a normal window owned by this very process.
    uint32_t createOwnWindow(const QString &wmClass);

private:
    pid_t spawn(const QStringList &argv, const QString &logName, int inheritFd = -1);
    void terminate(pid_t pid);
    xcb_connection_t *connection();

    QTemporaryDir m_temp;
    QString m_display;
    QString m_error;
    pid_t m_server = 0;
    pid_t m_windowManager = 0;
    std::vector<pid_t> m_clients;
    xcb_connection_t *m_connection = nullptr;
};

} // namespace quillmoss::test
