// Times the X11 workspace adapter on a private Xvfb + openbox:
//  1. one runningApplications() pass over 50 managed windows (warm: window
//     facts cached; cold: a fresh adapter's first pass);
//  2. launch-to-iconic latency of a new window of a non-allowed application
//     when a subscriber hides it on appeared(), measured by the client itself
//     from its MapWindow request to its WM_STATE turning Iconic.
//
//   x11_workspace_bench [launches (default 30)] [passes (default 2000)]
#include "DesktopEntryIndex.h"
#include "X11TestDisplay.h"
#include "X11Workspace.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>
#include <vector>

using namespace quillmoss;
using quillmoss::test::waitUntil;
using quillmoss::test::X11TestDisplay;

namespace {

struct Summary {
    double mean, median, p95, max;
};

Summary summarise(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[std::min(values.size() - 1, size_t(q * double(values.size())))]; };
    return {std::accumulate(values.begin(), values.end(), 0.0) / double(values.size()), at(0.5), at(0.95),
            values.back()};
}

void print(const char *what, const char *unit, const Summary &s, size_t n) {
    std::printf("%-48s n=%-5zu mean %9.1f  median %9.1f  p95 %9.1f  max %9.1f %s\n", what, n, s.mean, s.median, s.p95,
                s.max, unit);
}

int fail(const char *why) {
    std::fprintf(stderr, "x11_workspace_bench: %s\n", why);
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int launches = argc > 1 ? std::max(20, std::atoi(argv[1])) : 30;
    const int passes = argc > 2 ? std::max(10, std::atoi(argv[2])) : 2000;

    X11TestDisplay display;
    if (!display.startServer() || !display.startWindowManager())
        return fail(display.error().toLocal8Bit().constData());
    DesktopEntryIndex entries(DesktopEntryIndex::applicationDirsFromEnvironment());

    // 50 windows: ten processes with five windows each, every window its own
    // application (the worst case for grouping).
    for (int i = 0; i < 10; ++i)
        display.launch({QStringLiteral(X11_TEST_WINDOW), QStringLiteral("--class"),
                        QStringLiteral("bench%1-,Bench%1-").arg(i), QStringLiteral("--windows"), QStringLiteral("5"),
                        QStringLiteral("--numbered-classes")});
    {
        X11Workspace ws(display.displayName(), &entries);
        if (!waitUntil([&] { return ws.runningApplications().size() == 50; }, 30000))
            return fail("the 50 windows did not show up");
    }

    // Microseconds of one pass; a pass that misses windows fails the run.
    const auto timedPass = [](X11Workspace &ws) -> std::optional<double> {
        QElapsedTimer t;
        t.start();
        const qsizetype n = ws.runningApplications().size();
        const double micros = double(t.nsecsElapsed()) / 1000.0;
        return n == 50 ? std::optional<double>(micros) : std::nullopt;
    };
    std::vector<double> cold;
    for (int i = 0; i < 50; ++i) {
        X11Workspace fresh(display.displayName(), &entries);
        const std::optional<double> micros = timedPass(fresh);
        if (!micros)
            return fail("a cold pass did not see 50 applications");
        cold.push_back(*micros);
    }
    print("runningApplications(), 50 windows, cold", "us", summarise(cold), cold.size());

    X11Workspace ws(display.displayName(), &entries);
    ws.runningApplications();
    std::vector<double> warm;
    for (int i = 0; i < passes; ++i) {
        const std::optional<double> micros = timedPass(ws);
        if (!micros)
            return fail("a warm pass did not see 50 applications");
        warm.push_back(*micros);
    }
    print("runningApplications(), 50 windows, warm", "us", summarise(warm), warm.size());

    // Enforcement in miniature: whatever appears is hidden at once.
    QObject::connect(&ws, &WorkspacePort::appeared, &ws,
                     [&](const RunningApplication &application) { ws.hide(application.identifier); });
    ws.setWatching(true);
    std::vector<double> latency;
    for (int i = 0; i < launches; ++i) {
        const QString report = display.tempPath() + QStringLiteral("/latency-%1").arg(i);
        const pid_t pid = display.launch({QStringLiteral(X11_TEST_WINDOW), QStringLiteral("--class"),
                                          QStringLiteral("launch%1,Launch%1").arg(i), QStringLiteral("--report-iconic"),
                                          report});
        if (!waitUntil([&] { return QFile::exists(report); }, 10000))
            return fail("a launched window was not iconified within 10 s");
        QFile file(report);
        file.open(QIODevice::ReadOnly);
        latency.push_back(file.readAll().trimmed().toDouble() / 1000.0);
        display.stop(pid);
    }
    print("launch-to-iconic (map request to WM_STATE Iconic)", "ms", summarise(latency), latency.size());
    return 0;
}
