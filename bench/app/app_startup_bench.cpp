// The whole program as it starts for a user with a running session: time to
// the first frame of the window, resident memory once started, and the CPU
// it takes while the session counts down with the window shown.
//
//   app_startup_bench [seconds of CPU measurement, default 20]
//
// Runs in a temporary configuration and runtime directory of its own; without
// a display it renders offscreen. Targets: first frame < 1 s, memory
// < 150 MB, CPU < 2 % of one core.
#include "QuitSignals.h"
#include "Shell.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// Seconds since this process was created (the kernel's start time).
double secondsSinceProcessStart() {
    QFile stat("/proc/self/stat"), uptime("/proc/uptime");
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly)) return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double started = fields.value(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    return uptime.readAll().split(' ').value(0).toDouble() - started;
}

double residentMegabytes() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void writeRunningSession(const QString &configHome) {
    QDir(configHome).mkpath("quillmoss");
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0 - 978307200.0;
    QJsonArray blocks;
    for (auto [type, seconds] : {std::pair{"Study", 1500}, {"Break", 300}, {"Study", 1500}})
        blocks.append(QJsonObject{{"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
                                  {"type", type},
                                  {"duration", seconds}});
    const QJsonObject record{{"startTime", now - 60}, {"endTime", now - 60 + 3300}, {"subject", "Benchmark"},
                             {"blocks", blocks}};
    QFile file(configHome + "/quillmoss/preferences.json");
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(QJsonObject{
                                 {"hasCompletedOnboarding", true},
                                 {"CurrentSessionState",
                                  QJsonObject{{"$data", QString(QJsonDocument(record).toJson(QJsonDocument::Compact)
                                                                    .toBase64())}}}})
                   .toJson());
}

} // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceMain;
    sinceMain.start();
    const int measureSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    writeRunningSession(home.path() + "/config");

    QApplication::setApplicationName("quillmoss");
    QApplication::setApplicationVersion("1.0.0");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    quillmoss::QuitSignals quitSignals;
    quillmoss::SingleInstance instance(home.path());
    instance.claim();
    quillmoss::Shell shell(instance, quitSignals);
    if (!shell.start({})) return 1;

    double firstFrameSinceMain = -1, firstFrameSinceStart = -1;
    QObject::connect(shell.window(), &QQuickWindow::frameSwapped, &app, [&] {
        if (firstFrameSinceMain >= 0) return;
        firstFrameSinceMain = sinceMain.nsecsElapsed() / 1e9;
        firstFrameSinceStart = secondsSinceProcessStart();
        // Let start-up settle, then take the figures.
        QTimer::singleShot(2000, &app, [&] {
            const double rss = residentMegabytes();
            const double cpuBefore = cpuSeconds();
            QElapsedTimer wall;
            wall.start();
            QTimer::singleShot(measureSeconds * 1000, &app, [&, rss, cpuBefore, wall] {
                const double cpu = cpuSeconds() - cpuBefore;
                const double elapsed = wall.nsecsElapsed() / 1e9;
                std::printf("platform                      %s\n", qPrintable(QGuiApplication::platformName()));
                std::printf("first frame after main()      %.3f s   (target < 1 s)\n", firstFrameSinceMain);
                std::printf("first frame after start      %.3f s\n", firstFrameSinceStart);
                std::printf("resident memory after start   %.1f MB  (target < 150 MB)\n", rss);
                std::printf("CPU while a session runs      %.2f %% of one core over %.1f s  (target < 2 %%)\n",
                            100.0 * cpu / elapsed, elapsed);
                std::printf("resident memory at the end    %.1f MB\n", residentMegabytes());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        });
    });
    return app.exec();
}
