#include "stats/AnalyticsManager.h"

#include "BuildConfig.h"
#include "devices/DeviceIDManager.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/JsonDates.h"
#include "platform/PreferencesStore.h"
#include "session/SessionModel.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillmoss {

namespace {

AnalyticsManager *s_shared = nullptr;

// Counters are never capped by design, but wrapping past the 64-bit range
// would be undefined; stop at the edge instead.
qint64 saturatingAdd(qint64 a, qint64 b) {
    qint64 sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

void addToBreakdown(LifetimeStats &stats, const QString &target, qint64 count) {
    if (!stats.distractionBreakdown) stats.distractionBreakdown = DistractionBreakdown();
    qint64 &entry = (*stats.distractionBreakdown)[target];
    entry = saturatingAdd(entry, count);
}

// Durations come from clocks and other devices; a negative or non-finite one
// would either subtract focus time or (NaN/inf encode as null) make the saved
// record unreadable at the next start. Such a duration counts as nothing.
double usableDuration(double seconds, const char *what) {
    if (std::isfinite(seconds) && seconds >= 0) return seconds;
    consoleLine(QStringLiteral("Statistics: ignoring %1 of %2 seconds").arg(QLatin1String(what)).arg(seconds));
    return 0;
}

} // namespace

std::optional<QUrl> buildSurveyURL(const QString &baseUrl, const QString &formId, const QString &deviceId) {
    const QUrl url(baseUrl + QStringLiteral("run/") + formId + QStringLiteral("?user_id=") + deviceId,
                   QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) return std::nullopt;
    return url;
}

AnalyticsManager::AnalyticsManager(PreferencesStore &prefs, PreferencesStore *groupPrefs, Clock &clock,
                                   DeviceIDManager &deviceIds, QObject *parent)
    : QObject(parent), m_prefs(prefs), m_groupPrefs(groupPrefs), m_clock(clock), m_deviceIds(deviceIds) {
    load();
    connect(&m_prefs, &PreferencesStore::changed, this, &AnalyticsManager::onStoreChanged);
}

AnalyticsManager *AnalyticsManager::shared() { return s_shared; }
void AnalyticsManager::setShared(AnalyticsManager *manager) { s_shared = manager; }

// ---- persistence -----------------------------------------------------------

void AnalyticsManager::load() {
    // Nothing is written here: unreadable records stay stored as they are
    // until a real change replaces them.
    m_statsStored = m_prefs.contains(kStatsKey);
    if (auto data = m_prefs.dataValue(kStatsKey)) {
        if (auto stats = LifetimeStats::decode(*data))
            m_stats = *stats;
        else
            consoleLine(QStringLiteral("Statistics: stored LifetimeStats is unreadable; starting from zero"));
    } else if (m_statsStored) {
        consoleLine(QStringLiteral("Statistics: stored LifetimeStats is not data; starting from zero"));
    }

    m_historyStored = m_prefs.contains(kHistoryKey);
    if (auto data = m_prefs.dataValue(kHistoryKey)) {
        if (auto history = decodeHistory(*data))
            m_history = *history;
        else
            consoleLine(QStringLiteral("Statistics: stored SessionHistory is unreadable; starting empty"));
    } else if (m_historyStored) {
        consoleLine(QStringLiteral("Statistics: stored SessionHistory is not data; starting empty"));
    }
}

void AnalyticsManager::saveStats() { m_prefs.setData(kStatsKey, m_stats.encode()); }

void AnalyticsManager::saveHistory() { m_prefs.setData(kHistoryKey, encodeHistory(m_history)); }

void AnalyticsManager::onStoreChanged() {
    // When our records vanish from the store (the app-data reset removes the
    // whole domain), the totals in memory go too. Otherwise the next save
    // would quietly write the old totals back and undo the reset.
    const bool statsNow = m_prefs.contains(kStatsKey);
    if (m_statsStored && !statsNow && m_stats != LifetimeStats()) {
        m_stats = LifetimeStats();
        emit lifetimeStatsChanged();
    }
    m_statsStored = statsNow;

    const bool historyNow = m_prefs.contains(kHistoryKey);
    if (m_historyStored && !historyNow && !m_history.isEmpty()) {
        m_history.clear();
        emit sessionHistoryChanged();
    }
    m_historyStored = historyNow;
}

// ---- published forms -------------------------------------------------------

QVariantMap AnalyticsManager::peerStatsMap() const {
    QVariantMap map;
    for (auto it = m_peerStats.begin(); it != m_peerStats.end(); ++it) map.insert(it.key(), it.value().toVariantMap());
    return map;
}

QVariantList AnalyticsManager::sessionHistoryList() const {
    QVariantList list;
    list.reserve(m_history.size());
    for (const auto &item : m_history) list.append(item.toVariantMap());
    return list;
}

// ---- recording -------------------------------------------------------------

void AnalyticsManager::queueStatsChange(std::function<void(LifetimeStats &)> change) {
    postToMainQueue(this, [this, change = std::move(change)] {
        change(m_stats);
        saveStats();
        emit lifetimeStatsChanged();
    });
}

void AnalyticsManager::startUp() {
    m_deviceIds.deviceID();
    syncRestrictedAttempts();
}

void AnalyticsManager::syncRestrictedAttempts() {
    if (!m_groupPrefs) return;
    postToMainQueue(this, [this] {
        if (!m_groupPrefs) return;
        const qint64 attempts = m_groupPrefs->integerValue(kGroupAttemptsKey);
        bool changed = false;
        if (attempts >= 1) {
            m_stats.distractionsBlocked = saturatingAdd(m_stats.distractionsBlocked, attempts);
            m_groupPrefs->setInteger(kGroupAttemptsKey, 0);
            changed = true;
        }

        // The details are only taken when every count is readable; otherwise
        // they stay for the other side to sort out.
        const QJsonValue raw = m_groupPrefs->value(kGroupAttemptDetailsKey);
        DistractionBreakdown details;
        bool usable = raw.isObject() && !PreferencesStore::decodeData(raw);
        if (usable) {
            const QJsonObject o = raw.toObject();
            for (auto it = o.begin(); it != o.end() && usable; ++it) {
                auto n = countFromJson(it.value());
                if (n)
                    details.insert(it.key(), *n);
                else
                    usable = false;
            }
        }
        if (usable && !details.isEmpty()) {
            for (auto it = details.begin(); it != details.end(); ++it) addToBreakdown(m_stats, it.key(), it.value());
            m_groupPrefs->setDictionary(kGroupAttemptDetailsKey, {});
            changed = true;
        }
        if (changed) {
            saveStats();
            emit lifetimeStatsChanged();
        }
    });
}

void AnalyticsManager::recordSessionStarted() {
    m_stats.sessionsStarted = saturatingAdd(m_stats.sessionsStarted, 1);
    saveStats();
    emit lifetimeStatsChanged();
}

void AnalyticsManager::recordSessionEnded(bool completed, double focusedSeconds) {
    const double seconds = usableDuration(focusedSeconds, "a session end");
    queueStatsChange([completed, seconds](LifetimeStats &s) {
        const double total = s.totalSecondsFocused + seconds;
        if (std::isfinite(total)) s.totalSecondsFocused = total;
        if (completed) s.sessionsCompleted = saturatingAdd(s.sessionsCompleted, 1);
    });
}

void AnalyticsManager::recordGroupSessionJoined() {
    queueStatsChange([](LifetimeStats &s) { s.groupSessionsJoined = saturatingAdd(s.groupSessionsJoined, 1); });
}

void AnalyticsManager::recordBlockedAttempt(const QString &target, const QString &kind) {
    Q_UNUSED(kind);
    const QDateTime now = m_clock.now();
    const auto last = m_lastBlockedAlertTime.constFind(target);
    if (last != m_lastBlockedAlertTime.constEnd()) {
        const qint64 elapsed = last->msecsTo(now);
        // A clock set back must not silence a target for as long as it jumped.
        if (elapsed >= 0 && elapsed < kBlockedAttemptIntervalMs) return;
    }
    m_lastBlockedAlertTime.insert(target, now);
    queueStatsChange([target](LifetimeStats &s) {
        s.distractionsBlocked = saturatingAdd(s.distractionsBlocked, 1);
        addToBreakdown(s, target, 1);
    });
}

bool AnalyticsManager::acceptItem(SessionHistoryItem &item) {
    if (!item.startTime.isValid() || !isUsableSeconds(toReferenceSeconds(item.startTime))) {
        consoleLine(QStringLiteral("Statistics: ignoring history item %1 without a usable start time")
                        .arg(uuidText(item.id)));
        return false;
    }
    item.duration = usableDuration(item.duration, "a history item duration");
    return true;
}

void AnalyticsManager::addHistoryItem(const SessionHistoryItem &item) {
    SessionHistoryItem accepted = item;
    if (!acceptItem(accepted)) return;
    postToMainQueue(this, [this, accepted] {
        if (m_history.contains(accepted)) return;
        m_history.prepend(accepted);
        if (m_history.size() > kLocalHistoryLimit) m_history.resize(kLocalHistoryLimit);
        saveHistory();
        emit sessionHistoryChanged();
    });
}

void AnalyticsManager::mergePeerHistory(const SessionHistory &items) {
    postToMainQueue(this, [this, items] {
        QSet<QUuid> known;
        known.reserve(m_history.size() + items.size());
        for (const auto &item : std::as_const(m_history)) known.insert(item.id);
        bool appended = false;
        for (SessionHistoryItem item : items) {
            if (known.contains(item.id) || !acceptItem(item)) continue;
            known.insert(item.id);
            m_history.append(std::move(item));
            appended = true;
        }
        if (!appended) return;
        std::stable_sort(m_history.begin(), m_history.end(),
                         [](const auto &a, const auto &b) { return a.startTime > b.startTime; });
        if (m_history.size() > kMergedHistoryLimit) m_history.resize(kMergedHistoryLimit);
        saveHistory();
        emit sessionHistoryChanged();
    });
}

void AnalyticsManager::updatePeerStats(const QString &deviceId, const LifetimeStats &stats) {
    postToMainQueue(this, [this, deviceId, stats] {
        m_peerStats.insert(deviceId, stats);
        emit peerStatsChanged();
    });
}

// ---- presentation helpers --------------------------------------------------

QString AnalyticsManager::colorForDevice(const QString &deviceId) const {
    static const QStringList palette{QStringLiteral("green"), QStringLiteral("orange"), QStringLiteral("purple"),
                                     QStringLiteral("pink"),  QStringLiteral("yellow"), QStringLiteral("teal"),
                                     QStringLiteral("indigo"), QStringLiteral("mint")};
    if (deviceId == m_deviceIds.deviceID()) return QStringLiteral("blue");
    // Seeded per process: a device keeps its colour for the run, not forever.
    const size_t h = qHash(deviceId, QHashSeed::globalSeed());
    return palette.at(static_cast<qsizetype>(h % static_cast<size_t>(palette.size())));
}

std::optional<QUrl> AnalyticsManager::surveyURL(const QString &formId) const {
    return buildSurveyURL(QString::fromUtf8(build::surveyBaseUrl), formId, m_deviceIds.deviceID());
}

QUrl AnalyticsManager::feedbackURL() const { return surveyURL(surveyForms().feedback).value_or(QUrl()); }

AnalyticsManager::SurveyForms AnalyticsManager::surveyForms() {
    return {QString::fromUtf8(build::surveyFormFirst), QString::fromUtf8(build::surveyFormSecond),
            QString::fromUtf8(build::surveyFormThird), QString::fromUtf8(build::surveyFormFeedback)};
}

} // namespace quillmoss
