#include "CanberraSounds.h"

#include "platform/Console.h"

#include <canberra.h>

namespace quillmoss {

namespace {

const char *eventDescription(SoundEvent event) {
    switch (event) {
    case SoundEvent::SessionStart: return "Study session started";
    case SoundEvent::StudyStart: return "Study block started";
    case SoundEvent::BreakStart: return "Break started";
    case SoundEvent::SessionComplete: return "Study session complete";
    }
    return "";
}

} // namespace

// Owns the libcanberra context; used only on the sound thread.
class CanberraPlayer final : public QObject {
public:
    CanberraPlayer(QByteArray driver, QByteArray device) : m_driver(std::move(driver)), m_device(std::move(device)) {}
    ~CanberraPlayer() override {
        if (m_context)
            ca_context_destroy(m_context);
    }

    // The error text of the first failure; empty otherwise. After a failure
    // nothing is tried again: without an audio device every attempt would
    // fail the same way, and each one makes ALSA complain on stderr.
    QString play(SoundEvent event, bool *started) {
        *started = false;
        if (m_disabled)
            return {};
        int rc = m_context ? CA_SUCCESS : open();
        if (rc == CA_SUCCESS)
            rc = ca_context_play(m_context, 0, CA_PROP_EVENT_ID, CanberraSounds::eventId(event),
                                 CA_PROP_EVENT_DESCRIPTION, eventDescription(event), nullptr);
        if (rc != CA_SUCCESS) {
            m_disabled = true;
            return QStringLiteral("Sounds unavailable: %1 (%2)")
                .arg(QString::fromUtf8(ca_strerror(rc)), QString::fromUtf8(CanberraSounds::eventId(event)));
        }
        *started = true;
        return {};
    }

private:
    int open() {
        int rc = ca_context_create(&m_context);
        if (rc != CA_SUCCESS) {
            m_context = nullptr;
            return rc;
        }
        if (!m_driver.isEmpty() && (rc = ca_context_set_driver(m_context, m_driver.constData())) != CA_SUCCESS)
            return rc;
        if (!m_device.isEmpty() && (rc = ca_context_change_device(m_context, m_device.constData())) != CA_SUCCESS)
            return rc;
        rc = ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "quillmoss", CA_PROP_APPLICATION_ID,
                                     "app.quillmoss", nullptr);
        if (rc != CA_SUCCESS)
            return rc;
        return ca_context_open(m_context);
    }

    QByteArray m_driver;
    QByteArray m_device;
    ca_context *m_context = nullptr;
    bool m_disabled = false;
};

CanberraSounds::CanberraSounds(QByteArray driver, QByteArray device, QObject *parent)
    : QObject(parent), m_player(new CanberraPlayer(std::move(driver), std::move(device))) {
    m_thread.setObjectName(QStringLiteral("sounds"));
    m_player->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_player, &QObject::deleteLater);
    m_thread.start();
}

CanberraSounds::~CanberraSounds() {
    m_thread.quit();
    m_thread.wait();
}

const char *CanberraSounds::eventId(SoundEvent event) {
    switch (event) {
    case SoundEvent::SessionStart: return "service-login";
    case SoundEvent::StudyStart: return "bell";
    case SoundEvent::BreakStart: return "message-new-instant";
    case SoundEvent::SessionComplete: return "complete";
    }
    return "";
}

void CanberraSounds::play(SoundEvent event) {
    CanberraPlayer *player = m_player;
    QMetaObject::invokeMethod(player, [this, player, event] {
        bool started = false;
        const QString error = player->play(event, &started);
        // `this` outlives the sound thread, and a queued call to it is
        // dropped if it is destroyed first.
        QMetaObject::invokeMethod(this, [this, event, started, error] {
            if (!error.isEmpty())
                consoleLine(error);
            emit played(event, started);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

} // namespace quillmoss
