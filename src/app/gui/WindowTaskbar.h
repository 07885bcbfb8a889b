#pragma once

#include "app/TrayPort.h"

#include <QPointer>
#include <QWindow>

namespace quillmoss {

// "hideDockIcon" on Linux: the main window asks the window manager to leave
// it out of the taskbar (_NET_WM_STATE_SKIP_TASKBAR). Only X11 has a way to
// ask; elsewhere (Wayland, offscreen) nothing is changed and, when hiding is
// wanted, one console line says so.
class WindowTaskbar final : public TaskbarPort {
public:
    WindowTaskbar() = default;
    void setWindow(QWindow *window);

    bool isHiddenFromTaskbar() const override { return m_hidden; }
    void setHiddenFromTaskbar(bool hidden) override;

    // Whether the window's _NET_WM_STATE holds the skip-taskbar state now
    // (X11 only; false elsewhere).
    bool windowStateSkipsTaskbar() const;

private:
    bool apply(bool hidden);

    QPointer<QWindow> m_window;
    bool m_hidden = false;
    bool m_unsupportedReported = false;
};

} // namespace quillmoss
