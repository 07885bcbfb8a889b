#pragma once

#include <QObject>
#include <QString>

namespace quillmoss {

// Keeps the display awake while a session runs. The desktop answers later, so
// the state is published: inhibitedChanged() once the hold is granted or lost,
// inhibitFailed() when a request did not take.
class IdleInhibitPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IdleInhibitPort() override = default;

    // Asks for the hold. Returns at once. Does nothing while the hold is kept or
    // a request is under way, so a caller may call it on every refresh pass.
    virtual void inhibit(const QString &reason) = 0;
    // Gives the hold back. Harmless when nothing is held; a request still under
    // way is undone as soon as its answer arrives.
    virtual void release() = 0;
    virtual bool isInhibited() const = 0;

signals:
    void inhibitedChanged(bool inhibited);
    // Nothing is held after this; the caller may simply try again later.
    void inhibitFailed(const QString &error);
};

} // namespace quillmoss
