#pragma once

#include "platform/BrowserTabPort.h"
#include "platform/WorkspacePort.h"

namespace quillmoss {

// The workspace where this program cannot see or hide other applications'
// windows (a Wayland session, no window manager, no display): nothing is
// reported running and nothing is hidden, so enforcement has nothing to do.
class UnavailableWorkspace final : public WorkspacePort {
    Q_OBJECT
public:
    using WorkspacePort::WorkspacePort;
    bool isAvailable() const override { return false; }
    QList<RunningApplication> runningApplications() override { return {}; }
    void hide(const QString &) override {}
    QStringList systemExemptIdentifiers() override { return {}; }
    void setWatching(bool) override {}
};

// No browser can be read: every browser reports as not running, so no tab is
// read or closed.
class NoBrowserTabs final : public BrowserTabPort {
public:
    bool isRunning(BrowserFamily) override { return false; }
    void readFrontTabAddress(BrowserFamily, std::function<void(std::optional<QString>)> done) override {
        done(std::nullopt);
    }
    void closeFrontTab(BrowserFamily) override {}
};

} // namespace quillmoss
