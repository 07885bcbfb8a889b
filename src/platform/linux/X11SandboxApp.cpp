#include "X11SandboxApp.h"

#include "DesktopEntryIndex.h"

#include <QFile>

namespace quillmoss {

namespace {

QByteArray readSmallFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(256 * 1024);
}

// "0::/user.slice/…/app.slice/snap.firefox.firefox-1a2b….scope" → "firefox".
QString snapFromCgroup(const QByteArray &cgroup) {
    for (const QByteArray &line : cgroup.split('\n')) {
        const QByteArray path = line.mid(line.lastIndexOf(':') + 1);
        const QByteArray unit = path.mid(path.lastIndexOf('/') + 1);
        if (!unit.startsWith("snap."))
            continue;
        const QByteArray name = unit.mid(5, unit.indexOf('.', 5) - 5);
        if (!name.isEmpty() && unit.indexOf('.', 5) > 0)
            return QString::fromUtf8(name);
    }
    return {};
}

QString snapFromEnvironment(const QByteArray &environ) {
    for (const QByteArray &entry : environ.split('\0')) {
        if (entry.startsWith("SNAP_NAME="))
            return QString::fromUtf8(entry.mid(10));
    }
    return {};
}

} // namespace

SandboxApp sandboxAppOfProcess(qint64 pid, const QString &procRoot) {
    if (pid <= 0)
        return {};
    const QString dir = procRoot + QLatin1Char('/') + QString::number(pid);
    const QString flatpak =
        readKeyFileGroup(dir + QStringLiteral("/root/.flatpak-info"), QStringLiteral("Application"))
            .value(QStringLiteral("name"));
    if (!flatpak.isEmpty())
        return {SandboxApp::Kind::Flatpak, flatpak};
    QString snap = snapFromCgroup(readSmallFile(dir + QStringLiteral("/cgroup")));
    if (snap.isEmpty())
        snap = snapFromEnvironment(readSmallFile(dir + QStringLiteral("/environ")));
    if (!snap.isEmpty())
        return {SandboxApp::Kind::Snap, snap};
    return {};
}

} // namespace quillmoss
