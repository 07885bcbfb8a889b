#include "AtspiBrowserProcesses.h"

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

unsigned runningFamilies(const std::function<bool(qint64 pid)> &accept) {
    unsigned found = 0;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return 0;
    const uid_t me = ::getuid();
    const int procFd = ::dirfd(proc);
    while (dirent *entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        struct stat info;
        if (::fstatat(procFd, entry->d_name, &info, 0) != 0 || info.st_uid != me)
            continue;
        const auto family = familyOfExecutable(executableName(entry->d_name));
        if (family && !(found & (1u << unsigned(*family))) && (!accept || accept(std::atoll(entry->d_name))))
            found |= 1u << unsigned(*family);
    }
    ::closedir(proc);
    return found;
}

} // namespace quillmoss::atspi
