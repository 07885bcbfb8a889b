#pragma once

#include "devices/PeerPort.h"
#include "platform/AccessibilityPort.h"
#include "platform/Clock.h"
#include "platform/NotificationPort.h"
#include "platform/PreferencesStore.h"
#include "platform/SoundPort.h"
#include "selection/ActivitySelection.h"
#include "session/EnforcementPort.h"
#include "session/SessionModel.h"

#include <QDateTime>
#include <QObject>
#include <QUrl>
#include <QUuid>
#include <QVariantList>

#include <memory>
#include <optional>

namespace quillmoss {

class AnalyticsManager;
class DeviceIDManager;

// The one engine that runs focus sessions: starts and ends them (alone, as a
// host, as a guest, or as a blocking preview), evaluates the plan once a
// second, switches enforcement, keeps the running session across restarts and
// hands the statistics store the facts of each session.
class FocusManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isAuthorized READ isAuthorized NOTIFY isAuthorizedChanged)
    Q_PROPERTY(bool isFocusing READ isFocusing NOTIFY isFocusingChanged)
    Q_PROPERTY(bool isPreviewing READ isPreviewing NOTIFY isPreviewingChanged)
    Q_PROPERTY(bool isMuted READ isMuted WRITE setIsMuted NOTIFY isMutedChanged)
    Q_PROPERTY(bool sessionStateNotificationsEnabled READ sessionStateNotificationsEnabled WRITE
                   setSessionStateNotificationsEnabled NOTIFY sessionStateNotificationsEnabledChanged)
    Q_PROPERTY(bool unlockDuringBreak READ unlockDuringBreak WRITE setUnlockDuringBreak NOTIFY
                   unlockDuringBreakChanged)
    Q_PROPERTY(bool isWaitingInLobby READ isWaitingInLobby NOTIFY lobbyChanged)
    Q_PROPERTY(QString lobbyHostName READ lobbyHostNameText NOTIFY lobbyChanged)
    Q_PROPERTY(QString lobbyHostId READ lobbyHostIdText NOTIFY lobbyChanged)
    Q_PROPERTY(QDateTime sessionStartTime READ sessionStartTime NOTIFY sessionTimesChanged)
    Q_PROPERTY(QDateTime sessionEndTime READ sessionEndTime NOTIFY sessionTimesChanged)
    Q_PROPERTY(QString currentSubject READ currentSubject NOTIFY currentSubjectChanged)
    Q_PROPERTY(QVariantList currentBlocks READ currentBlocksVariant NOTIFY currentBlocksChanged)
    Q_PROPERTY(QVariantList lastSessionBlocks READ lastSessionBlocksVariant NOTIFY lastSessionBlocksChanged)
    Q_PROPERTY(QVariantList builderBlocks READ builderBlocksVariant NOTIFY builderChanged)
    Q_PROPERTY(QString builderSubject READ builderSubject NOTIFY builderChanged)
    Q_PROPERTY(bool shouldRestoreBuilder READ shouldRestoreBuilder WRITE setShouldRestoreBuilder NOTIFY
                   shouldRestoreBuilderChanged)
    Q_PROPERTY(QStringList allowedApps READ allowedApps NOTIFY selectionChanged)
    Q_PROPERTY(QStringList blockedSites READ blockedSites NOTIFY selectionChanged)
    Q_PROPERTY(bool showSessionCompleted READ showSessionCompleted WRITE setShowSessionCompleted NOTIFY
                   showSessionCompletedChanged)
    Q_PROPERTY(QString completedSubject READ completedSubject NOTIFY lastCompletedSessionInfoChanged)
    Q_PROPERTY(double completedDuration READ completedDuration NOTIFY lastCompletedSessionInfoChanged)
    Q_PROPERTY(bool hasCompletionInfo READ hasCompletionInfo NOTIFY lastCompletedSessionInfoChanged)
    Q_PROPERTY(bool showSurveyOnHome READ showSurveyOnHome WRITE setShowSurveyOnHome NOTIFY showSurveyOnHomeChanged)
    Q_PROPERTY(QUrl currentSurveyURL READ currentSurveyUrlOrEmpty NOTIFY currentSurveyURLChanged)

public:
    struct Collaborators {
        PreferencesStore &preferences;
        Clock &clock;
        EnforcementPort &enforcement;
        NotificationPort &notifications;
        SoundPort &sounds;
        AnalyticsManager &statistics;
        DeviceIDManager &deviceIds;
        PeerPort *peers = nullptr; // none until linked devices exist
        // Whether tabs may be read; absent where the desktop offers no such switch.
        AccessibilityPort *accessibility = nullptr;
    };

    static inline const QString kSelectionKey = QStringLiteral("FocusSelection");
    static inline const QString kLastSessionKey = QStringLiteral("LastSessionBlocks");
    static inline const QString kBuilderStateKey = QStringLiteral("BuilderState");
    static inline const QString kCurrentSessionKey = QStringLiteral("CurrentSessionState");

    explicit FocusManager(Collaborators collaborators, QObject *parent = nullptr);
    ~FocusManager() override;

    static FocusManager *shared();
    static void setShared(FocusManager *instance);

    // The peer manager is created after the engine and needs it; it plugs
    // itself in here.
    void setPeerPort(PeerPort *peers);

    // --- published state
    bool isAuthorized() const { return m_isAuthorized; }
    void setIsAuthorized(bool authorized);
    bool isFocusing() const { return m_isFocusing; }
    bool isPreviewing() const { return m_isPreviewing; }
    bool isMuted() const { return m_isMuted; }
    void setIsMuted(bool muted);
    bool sessionStateNotificationsEnabled() const { return m_notificationsEnabled; }
    void setSessionStateNotificationsEnabled(bool enabled);
    bool unlockDuringBreak() const { return m_unlockDuringBreak; }
    void setUnlockDuringBreak(bool unlock);
    bool isWaitingInLobby() const { return m_isWaitingInLobby; }
    std::optional<QString> lobbyHostName() const { return m_lobbyHostName; }
    std::optional<QString> lobbyHostId() const { return m_lobbyHostId; }
    QDateTime sessionStartTime() const { return m_sessionStartTime; } // invalid when none
    QDateTime sessionEndTime() const { return m_sessionEndTime; }
    QString currentSubject() const { return m_currentSubject; }
    const SessionPlan &currentBlocks() const { return m_currentBlocks; }
    const SessionPlan &lastSessionBlocks() const { return m_lastSessionBlocks; }
    const SessionPlan &builderBlocks() const { return m_builderBlocks; }
    QString builderSubject() const { return m_builderSubject; }
    bool shouldRestoreBuilder() const { return m_shouldRestoreBuilder; }
    void setShouldRestoreBuilder(bool restore);
    const MacActivitySelection &selection() const { return m_selection; }
    // Replaces the selection and stores it.
    void setSelection(const MacActivitySelection &selection);
    // Removes the stored selection and puts the defaults back (stored again).
    void resetSelection();
    bool showSessionCompleted() const { return m_showSessionCompleted; }
    void setShowSessionCompleted(bool show);
    std::optional<SessionCompletionInfo> lastCompletedSessionInfo() const { return m_lastCompletedSessionInfo; }
    bool showSurveyOnHome() const { return m_showSurveyOnHome; }
    void setShowSurveyOnHome(bool show);
    std::optional<QUrl> currentSurveyURL() const { return m_currentSurveyURL; }
    std::optional<QUrl> pendingSurveyURL() const { return m_pendingSurveyURL; }
    std::optional<QUuid> currentSessionId() const { return m_currentSessionId; }
    std::optional<BlockType> lastBlockType() const { return m_lastBlockType; }
    bool hasSessionTimer() const { return m_sessionTimer != nullptr; }

    // --- operations
    Q_INVOKABLE void startSession(const QString &subject, const quillmoss::SessionPlan &blocks, double duration);
    void startGuestSession(std::optional<QDateTime> startTime, std::optional<QDateTime> endTime,
                           std::optional<QString> subject, std::optional<SessionPlan> blocks);
    Q_INVOKABLE void startPreview();
    Q_INVOKABLE void endSession();
    // A host's stop: no record, nothing sent back.
    void applyRemoteStop();
    void updateBlockState();
    void startSessionTimer();
    void stopSessionTimer();
    void applyBlocking();
    void stopMonitoring();
    void enterLobby(const QString &hostName, const QString &hostId);
    void leaveLobby();

    void saveBuilderState(const SessionPlan &blocks, const QString &subject);
    Q_INVOKABLE void loadBuilderState();
    void saveLastSessionBlocks(const SessionPlan &blocks);
    void loadLastSessionBlocks();
    void loadSelection();
    void saveSelection();
    void saveCurrentSessionState();
    void restoreSession();

    void requestNotificationPermissionIfNeeded();
    void sendSessionNotification(const QString &title, const QString &body);
    std::optional<QString> customSubject() const;
    void presentPendingSurvey();
    // Asks the desktop for the access that reading tabs needs; the answer is
    // published as isAuthorized and announced by accessibilityPermissionAnswered
    // (always, also when nothing changed or no switch exists).
    Q_INVOKABLE void requestAccessibilityPermission();

    // The home screen's "repeat last session": the last plan again, under the
    // default subject, for its full length. Nothing without a last plan.
    Q_INVOKABLE void repeatLastSession();
    // The picker's save: both lists as they stand, stored.
    Q_INVOKABLE void applySelection(const QStringList &appBundleIDs, const QStringList &webDomains);
    // --- the same operations for the screens, whose plans are lists of
    // blocks or {type, duration[, id]} maps (see planFromVariantList). An
    // unreadable plan is refused with a console line and false.
    // A negative duration means the plan's total.
    Q_INVOKABLE bool startSessionWithBlocks(const QString &subject, const QVariantList &blocks, double duration = -1);
    Q_INVOKABLE bool saveBuilderStateWithBlocks(const QVariantList &blocks, const QString &subject);
    // "Back to Home" on the completion screen: hide it, forget what it
    // showed, and let a pending survey follow.
    Q_INVOKABLE void dismissCompletion();

    // Seconds left in the current block (0 when none), for the clock displays.
    double timeRemainingInCurrentBlock() const;
    std::optional<int> currentBlockIndex() const;

signals:
    void isAuthorizedChanged();
    void isFocusingChanged();
    void isPreviewingChanged();
    void isMutedChanged();
    void sessionStateNotificationsEnabledChanged();
    void unlockDuringBreakChanged();
    void lobbyChanged();
    void sessionTimesChanged();
    void currentSubjectChanged();
    void currentBlocksChanged();
    void lastSessionBlocksChanged();
    void builderChanged();
    void shouldRestoreBuilderChanged();
    void selectionChanged();
    void showSessionCompletedChanged();
    void lastCompletedSessionInfoChanged();
    void showSurveyOnHomeChanged();
    void currentSurveyURLChanged();
    // A session started here, as a guest, or a preview began; and ended.
    void sessionStarted();
    void sessionEnded();
    void accessibilityPermissionAnswered(bool authorized);

private:
    void setIsFocusing(bool v);
    void setIsPreviewing(bool v);
    void setSessionTimes(const QDateTime &start, const QDateTime &end);
    void setCurrentSubject(const QString &subject);
    void setCurrentBlocks(const SessionPlan &blocks);
    void setLobby(bool waiting, std::optional<QString> hostName, std::optional<QString> hostId);
    void resetRunningSession();
    void playSound(SoundEvent event);
    void showCompletion(const QString &subject, double seconds);
    std::optional<QUrl> chooseSurvey() const;
    QString lobbyHostNameText() const { return m_lobbyHostName.value_or(QString()); }
    QString lobbyHostIdText() const { return m_lobbyHostId.value_or(QString()); }
    QVariantList currentBlocksVariant() const;
    QVariantList lastSessionBlocksVariant() const;
    QVariantList builderBlocksVariant() const;
    QStringList allowedApps() const { return m_selection.appBundleIDs; }
    QStringList blockedSites() const { return m_selection.webDomains; }
    QString completedSubject() const;
    double completedDuration() const;
    bool hasCompletionInfo() const { return m_lastCompletedSessionInfo.has_value(); }
    QUrl currentSurveyUrlOrEmpty() const { return m_currentSurveyURL.value_or(QUrl()); }

    PreferencesStore &m_prefs;
    Clock &m_clock;
    EnforcementPort &m_enforcement;
    NotificationPort &m_notifications;
    SoundPort &m_sounds;
    AnalyticsManager &m_statistics;
    DeviceIDManager &m_deviceIds;
    PeerPort *m_peers;
    NoPeers m_noPeers;
    AccessibilityPort *m_accessibility;

    bool m_isAuthorized = false;
    bool m_isFocusing = false;
    bool m_isPreviewing = false;
    bool m_isMuted = true;
    bool m_notificationsEnabled = false;
    bool m_unlockDuringBreak = false;
    bool m_isWaitingInLobby = false;
    std::optional<QString> m_lobbyHostName;
    std::optional<QString> m_lobbyHostId;
    QDateTime m_sessionStartTime;
    QDateTime m_sessionEndTime;
    QString m_currentSubject;
    SessionPlan m_currentBlocks;
    SessionPlan m_lastSessionBlocks;
    SessionPlan m_builderBlocks;
    QString m_builderSubject = kDefaultSubject;
    bool m_shouldRestoreBuilder = false;
    MacActivitySelection m_selection = MacActivitySelection::defaultSelection();
    bool m_showSessionCompleted = false;
    std::optional<SessionCompletionInfo> m_lastCompletedSessionInfo;
    bool m_showSurveyOnHome = false;
    std::optional<QUrl> m_currentSurveyURL;

    std::unique_ptr<ClockTimer> m_sessionTimer;
    std::optional<BlockType> m_lastBlockType;
    std::optional<QUuid> m_currentSessionId;
    std::optional<QUrl> m_pendingSurveyURL;
    // An end requested while one is under way is ignored, so a session is
    // recorded, announced and reported to peers once.
    bool m_isEnding = false;
};

} // namespace quillmoss
