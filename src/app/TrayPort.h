#pragma once

#include <QString>

namespace quillmoss {

// What the status item shows: the logo while idle, the logo or a cup while a
// session runs, with the time left in the current block.
enum class StatusIcon { IdleLogo, StudyLogo, BreakCup };

struct StatusDisplay {
    StatusIcon icon = StatusIcon::IdleLogo;
    // Empty while idle, else a space and "mm:ss" of the current block.
    QString title;
    // Whole minutes left in the current block; -1 while idle.
    qint64 minutesLeft = -1;
    bool operator==(const StatusDisplay &) const = default;
};

// The desktop's status item (a system tray icon on Linux) with its menu
// "Open quillmoss", "Check for Updates…", "Quit", whose choices end up in the
// MenuBarManager's openApp(), checkForUpdates() and quitApp().
class TrayPort {
public:
    virtual ~TrayPort() = default;
    // Whether the desktop has a place for status items right now.
    virtual bool isHostAvailable() const = 0;
    virtual bool exists() const = 0;
    // Creates the item with a fresh menu, showing `display`.
    virtual void create(const StatusDisplay &display) = 0;
    // Removes the item (and its menu) from the desktop.
    virtual void discard() = 0;
    virtual void show(const StatusDisplay &display) = 0;
};

// Whether the main window has an entry in the desktop's taskbar.
class TaskbarPort {
public:
    virtual ~TaskbarPort() = default;
    virtual bool isHiddenFromTaskbar() const = 0;
    virtual void setHiddenFromTaskbar(bool hidden) = 0;
};

} // namespace quillmoss
