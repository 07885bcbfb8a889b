#pragma once

#include "stats/StatsModel.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace quillmoss {

class Clock;
class DeviceIDManager;
class PreferencesStore;

// The survey address: base + "run/" + form + "?user_id=" + device id, joined
// as they are (no escaping). None unless that text is a valid absolute URL.
std::optional<QUrl> buildSurveyURL(const QString &baseUrl, const QString &formId, const QString &deviceId);

// The local statistics store: this device's lifetime totals and recent
// session history (both persisted), and the totals linked devices sent us
// (memory only). It sends nothing anywhere.
//
// Operations documented as "queued" return at once and apply their change
// later on the main queue, in posting order.
class AnalyticsManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantMap lifetimeStats READ lifetimeStatsMap NOTIFY lifetimeStatsChanged)
    Q_PROPERTY(QVariantMap peerStats READ peerStatsMap NOTIFY peerStatsChanged)
    Q_PROPERTY(QVariantList sessionHistory READ sessionHistoryList NOTIFY sessionHistoryChanged)
public:
    static inline const QString kStatsKey = QStringLiteral("LifetimeStats");
    static inline const QString kHistoryKey = QStringLiteral("SessionHistory");
    static inline const QString kGroupAttemptsKey = QStringLiteral("stats_restricted_attempts");
    static inline const QString kGroupAttemptDetailsKey = QStringLiteral("stats_restricted_attempts_details");
    static constexpr int kLocalHistoryLimit = 50;
    static constexpr int kMergedHistoryLimit = 100;
    static constexpr qint64 kBlockedAttemptIntervalMs = 60'000;

    // `groupPrefs` is the "group.quillmoss" suite shared with the component
    // that counts attempts outside this program; null when there is none.
    AnalyticsManager(PreferencesStore &prefs, PreferencesStore *groupPrefs, Clock &clock, DeviceIDManager &deviceIds,
                     QObject *parent = nullptr);

    static AnalyticsManager *shared();
    static void setShared(AnalyticsManager *manager);

    const LifetimeStats &lifetimeStats() const { return m_stats; }
    const QMap<QString, LifetimeStats> &peerStats() const { return m_peerStats; }
    const SessionHistory &sessionHistory() const { return m_history; }

    QVariantMap lifetimeStatsMap() const { return m_stats.toVariantMap(); }
    QVariantMap peerStatsMap() const;
    QVariantList sessionHistoryList() const;

    // Makes sure this device has its id, then folds in the group counters.
    Q_INVOKABLE void startUp();
    // Queued: adds the attempts counted outside this program.
    Q_INVOKABLE void syncRestrictedAttempts();
    // At once (callers are on the main thread).
    Q_INVOKABLE void recordSessionStarted();
    // Queued. A negative or non-finite focus time counts as 0 seconds.
    void recordSessionEnded(bool completed, double focusedSeconds);
    // Queued. Goes to the front (not sorted); the list keeps the newest 50.
    void addHistoryItem(const SessionHistoryItem &item);
    // Queued.
    void recordGroupSessionJoined();
    // Counts at most once per target per minute. `kind` ("app"/"website") is
    // informational only.
    void recordBlockedAttempt(const QString &target, const QString &kind);
    // Queued: replaces what `deviceId` sent before.
    void updatePeerStats(const QString &deviceId, const LifetimeStats &stats);
    // Queued: adds unknown items, newest first, at most 100.
    void mergePeerHistory(const SessionHistory &items);

    // A colour name: "blue" for this device, else one of eight by a hash of
    // the id that is stable within this run.
    Q_INVOKABLE QString colorForDevice(const QString &deviceId) const;

    std::optional<QUrl> surveyURL(const QString &formId) const;
    // The feedback form's address, or an empty URL (for the settings entry).
    Q_INVOKABLE QUrl feedbackURL() const;

    struct SurveyForms {
        QString first;    // offered when the 3rd session starts
        QString second;   // the 10th
        QString third;    // the 20th
        QString feedback; // "Send Feedback"
    };
    static SurveyForms surveyForms();

signals:
    void lifetimeStatsChanged();
    void peerStatsChanged();
    void sessionHistoryChanged();

private:
    void load();
    void saveStats();
    void saveHistory();
    void onStoreChanged();
    // Applies `change` to the totals on the main queue, then saves them.
    void queueStatsChange(std::function<void(LifetimeStats &)> change);
    // False (with a console line) for items that cannot be stored faithfully.
    static bool acceptItem(SessionHistoryItem &item);

    PreferencesStore &m_prefs;
    PreferencesStore *m_groupPrefs;
    Clock &m_clock;
    DeviceIDManager &m_deviceIds;

    LifetimeStats m_stats;
    QMap<QString, LifetimeStats> m_peerStats;
    SessionHistory m_history;
    QHash<QString, QDateTime> m_lastBlockedAlertTime;

    // Whether our records are in the store, so that their disappearance (the
    // app-data reset) can be told from "never written".
    bool m_statsStored = false;
    bool m_historyStored = false;
};

} // namespace quillmoss
