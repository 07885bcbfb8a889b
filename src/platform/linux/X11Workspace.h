#pragma once

#include "platform/WorkspacePort.h"
#include "selection/ActivitySelection.h"

#include <memory>

namespace quillmoss {

class DesktopEntryIndex;

// Other applications' windows on an X11 desktop with an EWMH window manager.
//
// An application is the set of managed top-level windows (_NET_CLIENT_LIST)
// that resolve to one desktop-entry ID; hiding iconifies its ordinary windows
// the way a taskbar does. The adapter keeps an X connection of its own, so it
// works beside any Qt platform plugin (or none).
class X11Workspace final : public WorkspacePort {
    Q_OBJECT
public:
    // The identifier reported for this process's own windows.
    static QString ownIdentifier() { return kOwnAppIdentifier; }

    // Connects to $DISPLAY.
    explicit X11Workspace(QObject *parent = nullptr);
    // Connects to `displayName` (":3"); empty means $DISPLAY. The desktop
    // entries come from `desktopEntries` when given (not taken over),
    // otherwise from the XDG data directories.
    X11Workspace(const QString &displayName, DesktopEntryIndex *desktopEntries,
                 QObject *parent = nullptr);
    ~X11Workspace() override;

    bool isAvailable() const override;
    QList<RunningApplication> runningApplications() override;
    void hide(const QString &identifier) override;
    QStringList systemExemptIdentifiers() override;
    void setWatching(bool watching) override;
    bool isWatching() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace quillmoss
