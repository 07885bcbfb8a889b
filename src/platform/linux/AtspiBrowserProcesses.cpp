#include "AtspiBrowserProcesses.h"

#include <QFile>
#include <QStandardPaths>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace quillmoss::atspi {

namespace {

// The executable's file name, or empty when it cannot be read (another user's
// process, a kernel thread, a process that just ended).
QString executableName(const char *pidText) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/exe", pidText);
    char target[512];
    const ssize_t length = ::readlink(path, target, sizeof target - 1);
    if (length <= 0)
        return {};
    QString name = QString::fromLocal8Bit(target, int(length));
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    // An upgraded package leaves running binaries marked as deleted.
    if (name.endsWith(QLatin1String(" (deleted)")))
        name.chop(10);
    return name;
}

} // namespace

std::optional<BrowserFamily> familyOfExecutable(const QString &fileName) {
    static const char *const chrome[] = {"chromium", "chromium-browser", "chrome", "google-chrome",
                                         "google-chrome-stable"};
    static const char *const firefox[] = {"firefox", "firefox-esr", "firefox-bin"};
    for (const char *name : chrome) {
        if (fileName == QLatin1String(name))
            return BrowserFamily::Chrome;
    }
    for (const char *name : firefox) {
        if (fileName == QLatin1String(name))
            return BrowserFamily::Firefox;
    }
    return std::nullopt;
}

std::optional<BrowserFamily> familyOfProcess(qint64 pid) {
    if (pid <= 0)
        return std::nullopt;
    return familyOfExecutable(executableName(QByteArray::number(pid).constData()));
}

void forEachBrowserProcess(const std::function<bool(qint64, BrowserFamily, const QString &)> &visit) {
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return;
    const uid_t me = ::getuid();
    const int procFd = ::dirfd(proc);
    while (dirent *entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        struct stat info;
        if (::fstatat(procFd, entry->d_name, &info, 0) != 0 || info.st_uid != me)
            continue;
        const QString executable = executableName(entry->d_name);
        const auto family = familyOfExecutable(executable);
        if (family && !visit(std::atoll(entry->d_name), *family, executable))
            break;
    }
    ::closedir(proc);
}

unsigned runningFamilies(const std::function<bool(qint64 pid)> &accept) {
    unsigned found = 0;
    forEachBrowserProcess([&](qint64 pid, BrowserFamily family, const QString &) {
        if (!(found & (1u << unsigned(family))) && (!accept || accept(pid)))
            found |= 1u << unsigned(family);
        return true;
    });
    return found;
}

QStringList chromeUserDataDirectories(const std::function<bool(qint64 pid)> &accept) {
    QStringList directories;
    forEachBrowserProcess([&](qint64 pid, BrowserFamily family, const QString &executable) {
        if (family != BrowserFamily::Chrome || (accept && !accept(pid)))
            return true;
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            return true;
        QList<QByteArray> arguments = file.readAll().split('\0');
        // Chromium rewrites its command line into one space-separated title.
        if (arguments.size() <= 2 && arguments.constFirst().contains(' '))
            arguments = arguments.constFirst().split(' ');
        QString directory;
        for (const QByteArray &argument : arguments) {
            // Helper processes (renderers, GPU, ...) share the browser's.
            if (argument.startsWith("--type="))
                return true;
            if (argument.startsWith("--user-data-dir="))
                directory = QFile::decodeName(argument.mid(16));
        }
        if (directory.isEmpty()) {
            const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
            directory = config + (executable.startsWith(QLatin1String("chromium")) ? QStringLiteral("/chromium")
                                                                                   : QStringLiteral("/google-chrome"));
        }
        if (!directories.contains(directory))
            directories.append(directory);
        return true;
    });
    return directories;
}

} // namespace quillmoss::atspi
