#include "DesktopSession.h"

#include "AccessibilitySwitch.h"
#include "XTestKeyboard.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QTcpSocket>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>

extern char **environ;

namespace quillmoss::test {

// ---------------------------------------------------------------- HTTP

TinyHttpServer::TinyHttpServer() {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray request = socket->peek(8192);
                if (!request.contains("\r\n\r\n"))
                    return;
                socket->readAll();
                const QList<QByteArray> words = request.left(request.indexOf('\r')).split(' ');
                if (onRequest)
                    onRequest(words.size() > 1 ? words[1] : QByteArray("/"));
                const QByteArray path =
                    QString::fromLatin1(words.size() > 1 ? words[1] : QByteArray("/")).toHtmlEscaped().toUtf8();
                const QByteArray body = "<!doctype html><html><head><title>page " + path +
                                        "</title></head><body><p>" + path + "</p></body></html>";
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    });
}

// ---------------------------------------------------------------- processes

TestProcesses::TestProcesses(const QString &logDirectory)
    : m_logDirectory(logDirectory), m_runId(QByteArray::number(::getpid())) {}

TestProcesses::~TestProcesses() { endAll(); }

TestProcesses::Launch TestProcesses::start(const QString &program, const QStringList &arguments,
                                           const QStringList &environment, bool captureStdout) {
    Launch launch;
    launch.tag = "quillmoss-test-" + m_runId + "-" + QByteArray::number(++m_counter);

    // Everything the child needs is built before fork: it must not allocate.
    std::vector<QByteArray> argStorage{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        argStorage.push_back(argument.toLocal8Bit());
    std::vector<QByteArray> envStorage;
    static const char *const dropped[] = {"DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=", "WAYLAND_DISPLAY=",
                                          "AT_SPI_BUS_ADDRESS=", "HOME=", "XDG_"};
    for (char **entry = environ; *entry; ++entry) {
        bool keep = true;
        for (const char *prefix : dropped)
            keep = keep && std::strncmp(*entry, prefix, std::strlen(prefix)) != 0;
        if (keep)
            envStorage.emplace_back(*entry);
    }
    for (const QString &entry : environment)
        envStorage.push_back(entry.toLocal8Bit());
    envStorage.push_back("QUILLMOSS_TEST_PROCESS=" + launch.tag);
    std::vector<char *> argv, envp;
    for (QByteArray &a : argStorage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (QByteArray &e : envStorage)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const QByteArray logPath =
        QFile::encodeName(m_logDirectory + QLatin1Char('/') + QFileInfo(program).fileName() + QLatin1Char('-') +
                          QString::number(m_counter) + QStringLiteral(".log"));
    launch.logPath = QFile::decodeName(logPath);
    const int logFd = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int pipeFds[2] = {-1, -1};
    if (captureStdout && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return launch;

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int nullFd = ::open("/dev/null", O_RDONLY);
        ::dup2(nullFd, 0);
        ::dup2(captureStdout ? pipeFds[1] : logFd, 1);
        ::dup2(logFd, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(logFd);
    if (captureStdout) {
        ::close(pipeFds[1]);
        launch.stdoutFd = pipeFds[0];
    }
    launch.pid = pid;
    m_launches.push_back(launch);
    return launch;
}

QByteArray TestProcesses::readLine(int fd, int timeoutMs) {
    QByteArray line;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(timeoutMs - waited.elapsed())) <= 0)
            break;
        char c;
        if (::read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line.append(c);
    }
    return line;
}

namespace {

qint64 sessionOf(const char *pidText) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(QLatin1String(pidText)));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // pid (comm) state ppid pgrp session ...; comm may hold spaces.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 3 ? fields[3].toLongLong() : -1;
}

bool hasTag(const char *pidText, const QByteArray &tag) {
    QFile environ(QStringLiteral("/proc/%1/environ").arg(QLatin1String(pidText)));
    if (!environ.open(QIODevice::ReadOnly))
        return false;
    return environ.readAll().split('\0').contains("QUILLMOSS_TEST_PROCESS=" + tag);
}

} // namespace

std::vector<qint64> TestProcesses::processesOf(const Launch &launch) {
    // Chromium rewrites its environment block for its process titles, so the
    // marker alone misses its helpers; they stay in the launch's session.
    std::vector<qint64> found;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (dirent *entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        if (sessionOf(entry->d_name) == launch.pid || hasTag(entry->d_name, launch.tag))
            found.push_back(QByteArray(entry->d_name).toLongLong());
    }
    ::closedir(proc);
    return found;
}

bool TestProcesses::owns(qint64 pid) const {
    const QByteArray pidText = QByteArray::number(pid);
    const qint64 session = sessionOf(pidText.constData());
    for (const Launch &launch : m_launches) {
        if (session == launch.pid || hasTag(pidText.constData(), launch.tag))
            return true;
    }
    return false;
}

void TestProcesses::reapChildren() {
    for (const Launch &launch : m_launches)
        ::waitpid(pid_t(launch.pid), nullptr, WNOHANG);
}

void TestProcesses::end(const Launch &launch) {
    if (launch.stdoutFd >= 0)
        ::close(launch.stdoutFd);
    QElapsedTimer waited;
    waited.start();
    int signal = SIGTERM;
    for (;;) {
        reapChildren();
        const auto pids = processesOf(launch);
        if (pids.empty())
            break;
        if (waited.elapsed() > 3000)
            signal = SIGKILL;
        if (waited.elapsed() > 15000)
            break;
        for (qint64 pid : pids)
            ::kill(pid_t(pid), signal);
        // Give the signalled processes a moment before looking again.
        pollfd none{};
        ::poll(&none, 0, 50);
    }
    reapChildren();
}

void TestProcesses::endAll() {
    // Newest first: browsers before the desktop they run on.
    while (!m_launches.empty()) {
        const Launch launch = m_launches.back();
        end(launch);
        m_launches.pop_back();
    }
}

// ---------------------------------------------------------------- browsers

QStringList chromiumArguments(const QString &profile) {
    return {QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
            QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
            QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
            QStringLiteral("--no-default-browser-check"), QStringLiteral("--password-store=basic"),
            QStringLiteral("--user-data-dir=") + profile, QStringLiteral("--force-renderer-accessibility")};
}

bool writeQuietFirefoxProfile(const QString &profile) {
    QDir().mkpath(profile);
    QFile prefs(profile + QStringLiteral("/user.js"));
    if (!prefs.open(QIODevice::WriteOnly))
        return false;
    prefs.write("user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
                "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
                "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
                "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
                "user_pref(\"app.update.auto\", false);\n"
                "user_pref(\"extensions.update.enabled\", false);\n"
                "user_pref(\"network.captive-portal-service.enabled\", false);\n"
                "user_pref(\"network.connectivity-service.enabled\", false);\n"
                "user_pref(\"browser.safebrowsing.malware.enabled\", false);\n"
                "user_pref(\"browser.safebrowsing.phishing.enabled\", false);\n"
                "user_pref(\"browser.newtabpage.enabled\", false);\n"
                "user_pref(\"browser.tabs.warnOnClose\", false);\n");
    return prefs.flush();
}

AtspiBrowserTabs::Options browserTabOptions(DesktopSession &desktop) {
    AtspiBrowserTabs::Options o;
    o.sessionBusAddress = desktop.busAddress();
    o.displayName = desktop.display();
    o.processFilter = [&desktop](qint64 pid) { return desktop.processes().owns(pid); };
    return o;
}

QString switchAccessibilityOn(const DesktopSession &desktop) {
    // The session bus starts the accessibility launcher on demand.
    AccessibilitySwitch access({desktop.busAddress(), desktop.display(), 5000});
    std::optional<bool> granted;
    access.requestAccess([&](bool authorized) { granted = authorized; });
    if (!waitFor([&] { return granted.has_value(); }, 15000) || !*granted)
        return QStringLiteral("accessibility could not be switched on");
    return {};
}

// ---------------------------------------------------------------- desktop

QString startSessionBus(TestProcesses &processes, const QString &directory) {
    const auto bus = processes.start(QStringLiteral("/usr/bin/dbus-daemon"),
                                     {QStringLiteral("--session"), QStringLiteral("--fork"),
                                      QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1"),
                                      QStringLiteral("--address=unix:dir=") + directory},
                                     {}, true);
    if (bus.stdoutFd < 0)
        return {};
    const QString address = QString::fromLocal8Bit(TestProcesses::readLine(bus.stdoutFd, 10000)).trimmed();
    TestProcesses::readLine(bus.stdoutFd, 10000); // the daemon's pid; found by its marker at the end
    return address;
}

namespace {
bool displayInUse(int number) {
    const QString name = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
    if (QFile::exists(name) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        return true;
    QFile sockets(QStringLiteral("/proc/net/unix"));
    if (!sockets.open(QIODevice::ReadOnly))
        return false;
    const QByteArray abstractName = "@" + name.toLatin1();
    for (const QByteArray &line : sockets.readAll().split('\n')) {
        if (line.endsWith(abstractName))
            return true;
    }
    return false;
}
} // namespace

DesktopSession::DesktopSession() : m_processes(m_dir.path()) {}

DesktopSession::~DesktopSession() { stop(); }

QStringList DesktopSession::environment() const {
    return {QStringLiteral("DISPLAY=") + QString::fromLatin1(m_display),
            QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + m_busAddress,
            QStringLiteral("HOME=") + m_dir.path() + QStringLiteral("/home"),
            QStringLiteral("XDG_CONFIG_HOME=") + m_dir.path() + QStringLiteral("/home/.config"),
            QStringLiteral("XDG_CACHE_HOME=") + m_dir.path() + QStringLiteral("/home/.cache"),
            QStringLiteral("XDG_RUNTIME_DIR=") + m_dir.path() + QStringLiteral("/runtime")};
}

QString DesktopSession::start() {
    if (!m_dir.isValid())
        return QStringLiteral("no temporary directory");
    QDir(m_dir.path()).mkpath(QStringLiteral("home/.config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(m_dir.path() + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                          QFileDevice::ExeOwner);

    m_busAddress = startSessionBus(m_processes, m_dir.path());
    if (m_busAddress.isEmpty())
        return QStringLiteral("dbus-daemon did not start");

    // Displays of other test runs on this machine may live in other mount
    // namespaces, visible only through their abstract sockets: pick a number
    // nobody uses by either name, and move on if the server still fails.
    for (int attempt = 0, candidate = 40 + int(::getpid() % 400); attempt < 5 && m_display.isEmpty(); ++attempt) {
        while (displayInUse(candidate))
            ++candidate;
        const auto xvfb = m_processes.start(
            QStringLiteral("/usr/bin/Xvfb"),
            {QStringLiteral(":%1").arg(candidate), QStringLiteral("-displayfd"), QStringLiteral("1"),
             QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x900x24"),
             QStringLiteral("-nolisten"), QStringLiteral("tcp"),
             // Without it the server resets whenever its last client leaves
             // and refuses connections meanwhile (the probes below are such
             // clients).
             QStringLiteral("-noreset")},
            {}, true);
        const QByteArray number = TestProcesses::readLine(xvfb.stdoutFd, 30000).trimmed();
        if (number == QByteArray::number(candidate)) {
            m_display = ":" + number;
            m_xvfbLog = xvfb.logPath;
        }
        else
            m_processes.end(xvfb);
        ++candidate;
    }
    if (m_display.isEmpty())
        return QStringLiteral("Xvfb did not start");

    const auto openbox =
        m_processes.start(QStringLiteral("/usr/bin/openbox"), {QStringLiteral("--sm-disable")}, environment());
    if (!waitFor([this] { return XTestKeyboard::isDisplayAvailable(m_display); }, 30000)) {
        QFile log(openbox.logPath), xlog(m_xvfbLog);
        log.open(QIODevice::ReadOnly);
        xlog.open(QIODevice::ReadOnly);
        return QStringLiteral("openbox did not take over display %1: %2\nXvfb: %3")
            .arg(QString::fromLatin1(m_display), QString::fromLocal8Bit(log.readAll()),
                 QString::fromLocal8Bit(xlog.readAll()));
    }
    return {};
}

void DesktopSession::stop() {
    m_processes.endAll();
    // Browsers leave read-only files in their profiles; let the directory go.
    QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner | QFileDevice::ReadOwner |
                                        QFileDevice::ExeOwner);
    }
}

} // namespace quillmoss::test
