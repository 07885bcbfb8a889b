#include "X11TestDisplay.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "X11TestAtom.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace quillmoss::test {

namespace {

xcb_window_t rootOf(xcb_connection_t *c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

std::vector<uint32_t> cardinals(xcb_connection_t *c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type) {
    std::vector<uint32_t> out;
    xcb_get_property_reply_t *reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, type, 0, 4096), nullptr);
    if (reply && reply->format == 32) {
        const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        out.assign(v, v + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return out;
}

bool exited(pid_t pid) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(contents);
    return file.commit();
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        // Block in the event loop for a moment so the code under test runs.
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

X11TestDisplay::X11TestDisplay() = default;

X11TestDisplay::~X11TestDisplay() {
    for (auto it = m_clients.rbegin(); it != m_clients.rend(); ++it)
        terminate(*it);
    stopWindowManager();
    stopServer();
}

pid_t X11TestDisplay::spawn(const QStringList &argv, const QString &logName, int inheritFd) {
    // Everything the child needs is prepared before fork().
    std::vector<std::string> args;
    for (const QString &a : argv)
        args.push_back(a.toStdString());
    std::vector<char *> argp;
    for (std::string &a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);

    const QString home = m_temp.path() + QStringLiteral("/home");
    const std::vector<std::pair<std::string, std::string>> overrides = {
        {"DISPLAY", m_display.toStdString()},
        {"HOME", home.toStdString()},
        {"XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toStdString()},
        {"XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toStdString()},
        {"XDG_CACHE_HOME", (home + QStringLiteral("/.cache")).toStdString()},
    };
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto &o : overrides)
            replaced = replaced || o.first == key;
        if (!replaced)
            env.push_back(entry);
    }
    for (const auto &o : overrides) {
        if (!o.second.empty())
            env.push_back(o.first + '=' + o.second);
    }
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string logPath = (m_temp.path() + QLatin1Char('/') + logName + QStringLiteral(".log")).toStdString();

    const pid_t pid = fork();
    if (pid == 0) {
        // Never outlive a test that crashed.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int in = open("/dev/null", O_RDONLY);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in >= 0)
            dup2(in, 0);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        if (inheritFd >= 0)
            fcntl(inheritFd, F_SETFD, 0);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    return pid > 0 ? pid : 0;
}

void X11TestDisplay::terminate(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        if (exited(pid))
            return;
        usleep(5000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool X11TestDisplay::startServer() {
    if (!m_temp.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // -displayfd lets the server pick a free display number and tells us once
    // it accepts connections; -noreset keeps root properties when the last
    // client leaves.
    m_server = spawn({QStringLiteral("Xvfb"), QStringLiteral("-displayfd"), QString::number(fds[1]),
                      QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")},
                     QStringLiteral("xvfb"), fds[1]);
    close(fds[1]);
    std::string number;
    QElapsedTimer clock;
    clock.start();
    while (m_server && clock.elapsed() < 30000 && number.find('\n') == std::string::npos) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[32];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break; // the server ended before it was ready
            number.append(buffer, size_t(n));
        }
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        m_error = QStringLiteral("Xvfb did not start (is the xvfb package installed?)");
        terminate(m_server);
        m_server = 0;
        return false;
    }
    m_display = QStringLiteral(":%1").arg(std::atoi(number.c_str()));
    return true;
}

void X11TestDisplay::stopServer() {
    if (m_connection) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
    terminate(m_server);
    m_server = 0;
}

bool X11TestDisplay::startWindowManager() {
    m_windowManager = spawn({QStringLiteral("openbox"), QStringLiteral("--sm-disable")}, QStringLiteral("openbox"));
    if (!m_windowManager || !waitUntil([this] { return hasWindowManager(); }, 30000)) {
        m_error = QStringLiteral("openbox did not start");
        return false;
    }
    // openbox announces itself before it handles map requests, and a window
    // mapped in between stays unmanaged. Map a probe window until it is
    // managed.
    xcb_connection_t *c = connection();
    const uint32_t probe = createOwnWindow(QStringLiteral("WindowManagerProbe"));
    const auto listed = [&] {
        const std::vector<uint32_t> list = clientList();
        return std::find(list.begin(), list.end(), probe) != list.end();
    };
    bool managed = false;
    for (int attempt = 0; attempt < 60 && !managed; ++attempt) {
        managed = waitUntil(listed, 500);
        if (!managed) {
            xcb_unmap_window(c, probe);
            xcb_map_window(c, probe);
            xcb_flush(c);
        }
    }
    xcb_destroy_window(c, probe);
    xcb_flush(c);
    if (!managed || !waitUntil([&] { return !listed(); }, 30000)) {
        m_error = QStringLiteral("openbox does not manage windows");
        return false;
    }
    return true;
}

void X11TestDisplay::stopWindowManager() {
    terminate(m_windowManager);
    m_windowManager = 0;
}

pid_t X11TestDisplay::launch(const QStringList &argv) {
    const pid_t pid = spawn(argv, QStringLiteral("client-%1").arg(m_clients.size()));
    if (pid)
        m_clients.push_back(pid);
    return pid;
}

void X11TestDisplay::stop(pid_t pid) {
    terminate(pid);
    std::erase(m_clients, pid);
}

xcb_connection_t *X11TestDisplay::connection() {
    if (!m_connection)
        m_connection = xcb_connect(m_display.toLocal8Bit().constData(), nullptr);
    return m_connection;
}

std::vector<uint32_t> X11TestDisplay::clientList() {
    xcb_connection_t *c = connection();
    return cardinals(c, rootOf(c), internAtom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
}

std::vector<uint32_t> X11TestDisplay::windowsOfClass(const QString &wmClass) {
    xcb_connection_t *c = connection();
    std::vector<uint32_t> out;
    for (uint32_t w : clientList()) {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr);
        if (reply) {
            const QByteArray value(static_cast<const char *>(xcb_get_property_value(reply)),
                                   xcb_get_property_value_length(reply));
            const QList<QByteArray> parts = value.split('\0');
            if (parts.size() >= 2 && QString::fromLatin1(parts[1]) == wmClass)
                out.push_back(w);
        }
        std::free(reply);
    }
    return out;
}

bool X11TestDisplay::isIconic(uint32_t window) {
    xcb_connection_t *c = connection();
    const xcb_atom_t wmState = internAtom(c, "WM_STATE");
    const std::vector<uint32_t> state = cardinals(c, window, wmState, wmState);
    return !state.empty() && state.front() == 3;
}

bool X11TestDisplay::hasWindowManager() {
    xcb_connection_t *c = connection();
    if (xcb_connection_has_error(c))
        return false;
    const xcb_atom_t check = internAtom(c, "_NET_SUPPORTING_WM_CHECK");
    const std::vector<uint32_t> child = cardinals(c, rootOf(c), check, XCB_ATOM_WINDOW);
    return !child.empty() && cardinals(c, child.front(), check, XCB_ATOM_WINDOW) == child;
}

void X11TestDisplay::activate(uint32_t window) {
    xcb_connection_t *c = connection();
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = internAtom(c, "_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2; // source: a pager, which window managers obey
    xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(c);
}

uint32_t X11TestDisplay::createOwnWindow(const QString &wmClass) {
    xcb_connection_t *c = connection();
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 100, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    const QByteArray value = wmClass.toLatin1().toLower() + '\0' + wmClass.toLatin1() + '\0';
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, uint32_t(value.size()),
                        value.constData());
    xcb_map_window(c, w);
    xcb_flush(c);
    return w;
}

} // namespace quillmoss::test
