#include "selection/OpenApps.h"

#include "selection/ActivitySelection.h"

namespace quillmoss {

QStringList withAllOpenApps(QStringList allowed, const QList<RunningApplication> &running) {
    static const QStringList skip{kOwnAppIdentifier, QStringLiteral("com.apple.finder"),
                                  QStringLiteral("com.apple.loginwindow")};
    for (const RunningApplication &app : running) {
        if (!app.isRegular || app.identifier.isEmpty() || app.isOwnProcess) continue;
        if (allowed.contains(app.identifier) || skip.contains(app.identifier)) continue;
        allowed.append(app.identifier);
    }
    return allowed;
}

} // namespace quillmoss
