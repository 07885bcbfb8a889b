// What an idle study block costs this process: the real enforcer on the
// system clock with the X11 workspace, the accessibility tab adapter and
// desktop notifications, on a private Xvfb + openbox desktop with 30 windows
// of 30 applications (not allowed, so hidden once at the start) and one
// Chromium showing an allowed page (allowed, so its tab is read every second).
//
//  phase 1: the browser runs; phase 2: it has quit. Each phase measures this
//  process's CPU time (all threads, getrusage) over the same wall time; the
//  difference is what watching the browser costs.
//
//   enforcement_bench [seconds per phase (default 20, at least 5)]
#include "AtspiBrowserTabs.h"
#include "DBusNotifications.h"
#include "DesktopSession.h"
#include "X11Workspace.h"
#include "platform/Clock.h"
#include "session/BlockingEnforcer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

constexpr int kProcesses = 10;
constexpr int kWindowsEach = 3;

double ownCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// Counts what the enforcer asks of the real adapter.
class CountedTabs final : public BrowserTabPort {
public:
    explicit CountedTabs(BrowserTabPort &real) : m_real(real) {}
    bool isRunning(BrowserFamily family) override { return m_real.isRunning(family); }
    void readFrontTabAddress(BrowserFamily family, std::function<void(std::optional<QString>)> done) override {
        m_real.readFrontTabAddress(family, [this, done = std::move(done)](std::optional<QString> address) {
            ++(address ? answered : unanswered);
            done(address);
        });
    }
    void closeFrontTab(BrowserFamily family) override {
        ++closes;
        m_real.closeFrontTab(family);
    }
    int answered = 0, unanswered = 0, closes = 0;

private:
    BrowserTabPort &m_real;
};

struct Phase {
    double cpuMs;
    double wallMs;
    int reads;
};

// Runs the event loop for `seconds` (enforcement works meanwhile) and
// returns what this process spent.
Phase measure(int seconds, CountedTabs &tabs) {
    const int readsBefore = tabs.answered + tabs.unanswered;
    QElapsedTimer wall;
    wall.start();
    const double before = ownCpuMs();
    // One timer, not a polling wait: the harness must not add wake-ups of its own.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return {ownCpuMs() - before, double(wall.elapsed()), tabs.answered + tabs.unanswered - readsBefore};
}

void print(const char *what, const Phase &phase) {
    const double perSecond = phase.cpuMs / (phase.wallMs / 1000.0);
    std::printf("%-34s %6.1f s wall  %8.1f ms CPU  %6.2f ms CPU/s  %5.2f %% of one core  %3d tab reads\n", what,
                phase.wallMs / 1000.0, phase.cpuMs, perSecond, perSecond / 10.0, phase.reads);
}

int fail(const QString &why) {
    std::fprintf(stderr, "enforcement_bench: %s\n", why.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 20;

    DesktopSession desktop;
    QString error = desktop.start();
    if (error.isEmpty())
        error = switchAccessibilityOn(desktop);
    if (!error.isEmpty())
        return fail(error);
    TinyHttpServer server;

    for (int i = 0; i < kProcesses; ++i)
        desktop.processes().start(QStringLiteral(X11_TEST_WINDOW),
                                  {QStringLiteral("--class"), QStringLiteral("idle%1-,Idle%1-").arg(i),
                                   QStringLiteral("--windows"), QString::number(kWindowsEach),
                                   QStringLiteral("--numbered-classes")},
                                  desktop.environment());
    const auto browser = desktop.processes().start(
        QStringLiteral("/usr/bin/chromium"),
        chromiumArguments(desktop.directory() + QStringLiteral("/chromium-profile")) +
            QStringList{QStringLiteral("http://127.0.0.1:%1/notes").arg(server.port())},
        desktop.environment());

    X11Workspace workspace(QString::fromLatin1(desktop.display()), nullptr);
    AtspiBrowserTabs realTabs(browserTabOptions(desktop));
    CountedTabs tabs(realTabs);
    const QString busName = QStringLiteral("enforcement-bench");
    DBusNotifications notifications(QDBusConnection::connectToBus(desktop.busAddress(), busName));
    int attempts = 0;
    BlockingEnforcer enforcer(
        workspace, tabs, notifications, SystemClock::instance(),
        [] { return MacActivitySelection{{QStringLiteral("chromium")}, MacActivitySelection::defaultSelection().webDomains}; },
        [&](const QString &, const QString &) { ++attempts; });

    const auto applications = [&] { return workspace.runningApplications(); };
    const auto hiddenCount = [&] {
        const auto apps = applications();
        return int(std::count_if(apps.begin(), apps.end(), [](const RunningApplication &a) { return a.isHidden; }));
    };
    if (!waitFor([&] { return applications().size() == kProcesses * kWindowsEach + 1; }, 60000))
        return fail(QStringLiteral("expected %1 applications, saw %2")
                        .arg(kProcesses * kWindowsEach + 1)
                        .arg(applications().size()));
    const QString page = QStringLiteral("127.0.0.1:%1/notes").arg(server.port());
    if (!waitFor(
            [&] {
                std::optional<std::optional<QString>> read;
                realTabs.readFrontTabAddress(BrowserFamily::Chrome,
                                             [&](std::optional<QString> address) { read = address; });
                waitFor([&] { return read.has_value(); }, 10000);
                return read && *read && (*read)->contains(page);
            },
            60000))
        return fail(QStringLiteral("the browser's tab cannot be read"));

    enforcer.applyBlocking();
    if (!waitFor([&] { return hiddenCount() == kProcesses * kWindowsEach; }, 30000))
        return fail(QStringLiteral("only %1 of the windows were hidden").arg(hiddenCount()));
    // A few passes before measuring: the first reads build the adapter's caches.
    waitFor([&] { return tabs.answered >= 3; }, 30000);

    std::printf("idle study block: %d windows hidden, browser allowed, %lld blocked sites, %d s per phase\n",
                kProcesses * kWindowsEach, static_cast<long long>(MacActivitySelection::defaultSelection().webDomains.size()),
                seconds);
    const Phase withBrowser = measure(seconds, tabs);
    print("with the browser", withBrowser);

    desktop.processes().end(browser);
    if (!waitFor([&] { return !realTabs.isRunning(BrowserFamily::Chrome); }, 30000))
        return fail(QStringLiteral("the browser did not quit"));
    waitFor([&] { return applications().size() == kProcesses * kWindowsEach; }, 30000);
    const Phase withoutBrowser = measure(seconds, tabs);
    print("without the browser", withoutBrowser);

    const double withRate = withBrowser.cpuMs / (withBrowser.wallMs / 1000.0);
    const double withoutRate = withoutBrowser.cpuMs / (withoutBrowser.wallMs / 1000.0);
    std::printf("watching the browser costs %.2f ms CPU per second (%.2f ms per tab read)\n", withRate - withoutRate,
                withBrowser.reads > 0 ? (withBrowser.cpuMs - withoutRate * withBrowser.wallMs / 1000.0) / withBrowser.reads
                                      : 0.0);
    std::printf("target under 1 %% of one core: %s\n", withRate < 10.0 ? "met" : "missed");
    std::printf("hidden attempts %d, tab closes %d, unanswered reads %d\n", attempts, tabs.closes, tabs.unanswered);
    enforcer.stopMonitoring();
    return 0;
}
