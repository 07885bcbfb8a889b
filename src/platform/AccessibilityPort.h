#pragma once

#include <QObject>

#include <functional>

namespace quillmoss {

// Whether this process may read and close browser tabs and control other
// applications' windows. On the desktop this is the accessibility switch the
// user grants during onboarding; the engine publishes the answer as
// `isAuthorized`.
class AccessibilityPort : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool authorized READ isAuthorized NOTIFY authorizedChanged)
    Q_PROPERTY(bool windowControlAvailable READ isWindowControlAvailable NOTIFY windowControlAvailableChanged)
public:
    using QObject::QObject;

    // Asks for access (turning the desktop's accessibility on where that is
    // how access is granted). `done` runs later on the main thread with the
    // answer, also when the request failed; it never runs inside this call.
    virtual void requestAccess(std::function<void(bool authorized)> done = {}) = 0;
    // Re-reads the state without asking for anything; reports through the
    // change signals.
    virtual void refresh() = 0;

    // Browser tabs can be read now.
    virtual bool isAuthorized() const = 0;
    // Other applications' windows can be activated and sent keys (the
    // fallback for closing a tab); false without a window system to talk to.
    virtual bool isWindowControlAvailable() const = 0;

signals:
    void authorizedChanged(bool authorized);
    void windowControlAvailableChanged(bool available);
};

} // namespace quillmoss
