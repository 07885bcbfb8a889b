// quillmoss: timed study sessions that keep distractions out of sight.
#include "QuitSignals.h"
#include "Shell.h"
#include "SingleInstance.h"

#include "BuildConfig.h"
#include "platform/Console.h"

#include <QApplication>
#include <QIcon>

namespace {

// Without any display Qt gives up with an abort; say plainly what to do instead.
bool hasDisplay(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0) return true;
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char **argv) {
    using namespace quillmoss;
    if (!hasDisplay(argc, argv)) {
        consoleLine(QStringLiteral("No display found (DISPLAY and WAYLAND_DISPLAY are unset). Start quillmoss in "
                                   "a desktop session, under xvfb-run, or with QT_QPA_PLATFORM=offscreen."));
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("quillmoss"));
    QApplication::setApplicationVersion(QString::fromLatin1(build::version));
    QApplication::setDesktopFileName(QStringLiteral("app.quillmoss"));
    QApplication app(argc, argv);
    // Closing the window is a quit request of its own, through the quit guard.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quillmoss/app.quillmoss.svg")));

    // From here on a termination signal waits for the quit guard instead of
    // ending the program on the spot.
    QuitSignals quitSignals;

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    SingleInstance instance;
    if (!instance.claim()) {
        if (instance.handOver(arguments)) return 0;
        consoleLine(QStringLiteral("quillmoss is already running but does not answer"));
        return 1;
    }
    Shell shell(instance, quitSignals);
    if (!shell.start(arguments)) return 1;
    return app.exec();
}
