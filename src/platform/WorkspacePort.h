#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace quillmoss {

// One running application as the desktop sees it: the set of top-level
// windows that resolve to one identifier (a freedesktop desktop-entry ID).
struct RunningApplication {
    QString identifier;  // empty when it cannot be resolved
    QString displayName; // for screens ("Add All Open Apps")
    bool isRegular = false; // has at least one ordinary (taskbar) window
    bool isHidden = false;  // all of its ordinary windows are iconic
    bool isOwnProcess = false; // belongs to this very process
};

// Running applications, hiding them, and a prompt report when one appears.
// The rules of what to hide live in the core, not behind this port.
class WorkspacePort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // False when there is no window system this port can control (no X11
    // display, no EWMH window manager).
    virtual bool isAvailable() const = 0;
    // In the order the window system lists them.
    virtual QList<RunningApplication> runningApplications() = 0;
    // Hides (iconifies) every ordinary window of that application; never
    // touches its process.
    virtual void hide(const QString &identifier) = 0;
    // Identifiers that must never be hidden on this desktop besides the
    // core's fixed list (the file manager, the screen locker).
    virtual QStringList systemExemptIdentifiers() = 0;
    // Turns the appeared() reports on and off.
    virtual void setWatching(bool watching) = 0;

signals:
    // A new application's first ordinary window mapped, or a hidden
    // application's window came back.
    void appeared(const quillmoss::RunningApplication &application);
    void availabilityChanged(bool available);
};

} // namespace quillmoss

Q_DECLARE_METATYPE(quillmoss::RunningApplication)
