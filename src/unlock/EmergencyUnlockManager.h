#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QLocale>
#include <QObject>

#include <optional>

namespace quillmoss {

class Clock;
class PeerPort;
class PreferencesStore;

// The early way out of a running session: one use in any rolling seven days,
// shared with every connected linked device.
class EmergencyUnlockManager : public QObject {
    Q_OBJECT
    // Invalid when the allowance was never used.
    Q_PROPERTY(QDateTime lastUnlockDate READ lastUnlockDateOrInvalid NOTIFY lastUnlockDateChanged)
    Q_PROPERTY(QDateTime nextResetDate READ nextResetDateOrInvalid NOTIFY lastUnlockDateChanged)
public:
    static inline const QString kTimestampKey = QStringLiteral("emergency_unlock_timestamp");
    static inline const QString kMessageAction = QStringLiteral("emergencyUnlock");
    static constexpr qint64 kAllowancePeriodSeconds = 604'800;

    EmergencyUnlockManager(PreferencesStore &prefs, Clock &clock, PeerPort &peers, QObject *parent = nullptr);

    static EmergencyUnlockManager *shared();
    static void setShared(EmergencyUnlockManager *manager);

    std::optional<QDateTime> lastUnlockDate() const { return m_lastUnlockDate; }
    QDateTime lastUnlockDateOrInvalid() const { return m_lastUnlockDate.value_or(QDateTime()); }

    // True when never used, or when more than seven days (strictly) have
    // passed since the last use. A use dated in the future (a peer's clock
    // running ahead) blocks until seven days after that moment.
    Q_INVOKABLE bool canUnlock() const;
    std::optional<QDateTime> nextResetDate() const;
    QDateTime nextResetDateOrInvalid() const { return nextResetDate().value_or(QDateTime()); }

    // Spends the allowance now and tells the connected devices. Does not
    // check canUnlock(); see unlockIfAllowed().
    Q_INVOKABLE void useEmergencyUnlock();
    // The dialog's "Unlock": checks again (another device may have used the
    // allowance while the dialog was open) and spends it if still there.
    // The caller ends the session when this returns true.
    Q_INVOKABLE bool unlockIfAllowed();

    // A use heard from another device; only a later date than ours counts.
    void applyRemoteUnlock(const QDateTime &date);
    // An "emergencyUnlock" peer message. Ignored (false) unless "timestamp"
    // is a finite, positive number of Unix seconds.
    bool handlePeerMessage(const QJsonObject &message);

    // The dialog's texts.
    static QString dialogTitle();
    static QString dialogMessage(bool canUnlock, const std::optional<QDateTime> &nextReset);
    Q_INVOKABLE QString currentDialogMessage() const { return dialogMessage(canUnlock(), nextResetDate()); }
    // The reset moment as the user reads dates: abbreviated date, short time,
    // local time zone.
    Q_INVOKABLE static QString formatResetDate(const QDateTime &date, const QLocale &locale = QLocale());

signals:
    void lastUnlockDateChanged();

private:
    void loadLastUnlock();
    void setLastUnlock(const QDateTime &date);

    PreferencesStore &m_prefs;
    Clock &m_clock;
    PeerPort &m_peers;
    std::optional<QDateTime> m_lastUnlockDate;
};

} // namespace quillmoss
