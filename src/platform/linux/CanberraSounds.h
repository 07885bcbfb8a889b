#pragma once

#include "platform/SoundPort.h"

#include <QByteArray>
#include <QObject>
#include <QThread>

namespace quillmoss {

class CanberraPlayer;

// The four session sounds as events of the desktop's sound theme, played
// with libcanberra on a thread of its own: opening an audio device can take
// its time, and the main thread must not wait for it.
class CanberraSounds final : public QObject, public SoundPort {
    Q_OBJECT
public:
    // Empty `driver` and `device` leave the choice to libcanberra's defaults.
    explicit CanberraSounds(QByteArray driver = {}, QByteArray device = {}, QObject *parent = nullptr);
    ~CanberraSounds() override;

    void play(SoundEvent event) override;

    // The sound-theme event name of each moment (sound-theme-freedesktop).
    static const char *eventId(SoundEvent event);

signals:
    // After each play(), on this object's thread: whether the sound started.
    void played(quillmoss::SoundEvent event, bool started);

private:

    QThread m_thread;
    CanberraPlayer *m_player = nullptr; // lives on m_thread
};

} // namespace quillmoss
