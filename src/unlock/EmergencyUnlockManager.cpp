#include "unlock/EmergencyUnlockManager.h"

#include "devices/PeerPort.h"
#include "platform/Clock.h"
#include "platform/JsonDates.h"
#include "platform/PreferencesStore.h"

namespace quillmoss {

namespace {
EmergencyUnlockManager *s_shared = nullptr;
}

EmergencyUnlockManager::EmergencyUnlockManager(PreferencesStore &prefs, Clock &clock, PeerPort &peers, QObject *parent)
    : QObject(parent), m_prefs(prefs), m_clock(clock), m_peers(peers) {
    loadLastUnlock();
}

EmergencyUnlockManager *EmergencyUnlockManager::shared() { return s_shared; }
void EmergencyUnlockManager::setShared(EmergencyUnlockManager *manager) { s_shared = manager; }

void EmergencyUnlockManager::loadLastUnlock() {
    // 0 (absent) or negative means never used.
    const double seconds = m_prefs.doubleValue(kTimestampKey);
    if (seconds > 0 && isUsableSeconds(seconds)) m_lastUnlockDate = fromUnixSeconds(seconds);
}

void EmergencyUnlockManager::setLastUnlock(const QDateTime &date) {
    m_lastUnlockDate = date;
    m_prefs.setDouble(kTimestampKey, toUnixSeconds(date));
    emit lastUnlockDateChanged();
}

bool EmergencyUnlockManager::canUnlock() const {
    if (!m_lastUnlockDate) return true;
    return m_lastUnlockDate->msecsTo(m_clock.now()) > kAllowancePeriodSeconds * 1000;
}

std::optional<QDateTime> EmergencyUnlockManager::nextResetDate() const {
    if (!m_lastUnlockDate) return std::nullopt;
    return m_lastUnlockDate->addSecs(kAllowancePeriodSeconds);
}

void EmergencyUnlockManager::useEmergencyUnlock() {
    const QDateTime now = m_clock.now();
    setLastUnlock(now);
    m_peers.sendToAllConnected(
        QJsonObject{{QStringLiteral("action"), kMessageAction}, {QStringLiteral("timestamp"), toUnixSeconds(now)}});
}

bool EmergencyUnlockManager::unlockIfAllowed() {
    if (!canUnlock()) return false;
    useEmergencyUnlock();
    return true;
}

void EmergencyUnlockManager::applyRemoteUnlock(const QDateTime &date) {
    if (!date.isValid()) return;
    if (m_lastUnlockDate && date <= *m_lastUnlockDate) return;
    setLastUnlock(date);
}

bool EmergencyUnlockManager::handlePeerMessage(const QJsonObject &message) {
    const QJsonValue action = message.value(QLatin1String("action"));
    if (!action.isUndefined() && action != QJsonValue(kMessageAction)) return false;
    const QJsonValue timestamp = message.value(QLatin1String("timestamp"));
    if (!timestamp.isDouble()) return false;
    const double seconds = timestamp.toDouble();
    // Zero or less is how "never used" is stored; it cannot be a real use.
    if (!(seconds > 0) || !isUsableSeconds(seconds)) return false;
    applyRemoteUnlock(fromUnixSeconds(seconds));
    return true;
}

QString EmergencyUnlockManager::dialogTitle() { return QStringLiteral("Emergency Unlock"); }

QString EmergencyUnlockManager::dialogMessage(bool canUnlock, const std::optional<QDateTime> &nextReset) {
    if (canUnlock)
        return QStringLiteral(
            "You can only use this ONCE a week across all your devices. Are you sure you want to unlock now?");
    if (nextReset)
        return QStringLiteral("You have already used your emergency unlock this week. It will reset on ") +
               formatResetDate(*nextReset) + QLatin1Char('.');
    return QStringLiteral("You have already used your emergency unlock this week.");
}

QString EmergencyUnlockManager::formatResetDate(const QDateTime &date, const QLocale &locale) {
    // Qt offers long (full names) or short (all digits) dates; the long
    // pattern with abbreviated month and weekday names reads best in a
    // sentence and keeps the locale's order and separators.
    QString dateFormat = locale.dateFormat(QLocale::LongFormat);
    dateFormat.replace(QLatin1String("MMMM"), QLatin1String("MMM")).replace(QLatin1String("dddd"), QLatin1String("ddd"));
    const QDateTime local = date.toLocalTime();
    return locale.toString(local.date(), dateFormat) + QLatin1Char(' ') +
           locale.toString(local.time(), locale.timeFormat(QLocale::ShortFormat));
}

} // namespace quillmoss
