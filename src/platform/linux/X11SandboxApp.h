#pragma once

#include <QString>

namespace quillmoss {

// The sandbox a process runs in, as far as /proc tells. Best effort: a process
// of another user, one that is gone, or a missing /proc give an empty answer.
struct SandboxApp {
    enum class Kind { None, Flatpak, Snap };
    Kind kind = Kind::None;
    // Flatpak: the application ID (its desktop-entry ID). Snap: the snap name.
    QString name;
};

// `procRoot` is "/proc" outside tests.
SandboxApp sandboxAppOfProcess(qint64 pid, const QString &procRoot = QStringLiteral("/proc"));

} // namespace quillmoss
