#include "session/FocusManager.h"

#include "BuildConfig.h"
#include "devices/DeviceIDManager.h"
#include "platform/Console.h"
#include "stats/AnalyticsManager.h"

#include <QPointer>

namespace quillmoss {

namespace {
FocusManager *g_shared = nullptr;

const QString kIsMutedKey = QStringLiteral("isMuted");
const QString kNotificationsKey = QStringLiteral("sessionStateNotificationsEnabled");
const QString kUnlockDuringBreakKey = QStringLiteral("unlockDuringBreak");
constexpr int kTickIntervalMs = 1000;
constexpr double kCompletedShare = 0.95;
constexpr double kCompletionScreenMinimumSeconds = 60;
constexpr int kSurveyDelayMs = 500;

QVariantList blocksToVariant(const SessionPlan &plan) {
    QVariantList list;
    list.reserve(plan.size());
    for (const auto &b : plan) list.append(QVariant::fromValue(b));
    return list;
}
} // namespace

FocusManager *FocusManager::shared() { return g_shared; }
void FocusManager::setShared(FocusManager *instance) { g_shared = instance; }

FocusManager::FocusManager(Collaborators c, QObject *parent)
    : QObject(parent), m_prefs(c.preferences), m_clock(c.clock), m_enforcement(c.enforcement),
      m_notifications(c.notifications), m_sounds(c.sounds), m_statistics(c.statistics), m_deviceIds(c.deviceIds),
      m_peers(c.peers ? c.peers : &m_noPeers), m_accessibility(c.accessibility) {
    if (m_accessibility) {
        m_isAuthorized = m_accessibility->isAuthorized();
        connect(m_accessibility, &AccessibilityPort::authorizedChanged, this, &FocusManager::setIsAuthorized);
    }
    // 1. Settings.
    m_isMuted = m_prefs.optionalBool(kIsMutedKey).value_or(true);
    m_notificationsEnabled = m_prefs.optionalBool(kNotificationsKey).value_or(false);
    m_unlockDuringBreak = m_prefs.boolValue(kUnlockDuringBreakKey);
    // 2-5.
    loadSelection();
    loadLastSessionBlocks();
    loadBuilderState();
    restoreSession();
}

FocusManager::~FocusManager() {
    if (g_shared == this) g_shared = nullptr;
}

void FocusManager::setPeerPort(PeerPort *peers) { m_peers = peers ? peers : &m_noPeers; }

// ---- setters ----------------------------------------------------------------

void FocusManager::setIsAuthorized(bool v) {
    if (m_isAuthorized == v) return;
    m_isAuthorized = v;
    emit isAuthorizedChanged();
}

void FocusManager::setIsFocusing(bool v) {
    if (m_isFocusing == v) return;
    m_isFocusing = v;
    emit isFocusingChanged();
}

void FocusManager::setIsPreviewing(bool v) {
    if (m_isPreviewing == v) return;
    m_isPreviewing = v;
    emit isPreviewingChanged();
}

void FocusManager::setIsMuted(bool muted) {
    m_prefs.setBool(kIsMutedKey, muted);
    if (m_isMuted == muted) return;
    m_isMuted = muted;
    emit isMutedChanged();
}

void FocusManager::setSessionStateNotificationsEnabled(bool enabled) {
    m_prefs.setBool(kNotificationsKey, enabled);
    if (m_notificationsEnabled == enabled) return;
    m_notificationsEnabled = enabled;
    emit sessionStateNotificationsEnabledChanged();
}

void FocusManager::setUnlockDuringBreak(bool unlock) {
    m_prefs.setBool(kUnlockDuringBreakKey, unlock);
    const bool changed = m_unlockDuringBreak != unlock;
    m_unlockDuringBreak = unlock;
    if (changed) emit unlockDuringBreakChanged();
    if (m_isFocusing) {
        // Apply the current block afresh at once.
        m_lastBlockType.reset();
        postToMainQueue(this, [this] { updateBlockState(); });
    }
}

void FocusManager::setSessionTimes(const QDateTime &start, const QDateTime &end) {
    if (m_sessionStartTime == start && m_sessionEndTime == end) return;
    m_sessionStartTime = start;
    m_sessionEndTime = end;
    emit sessionTimesChanged();
}

void FocusManager::setCurrentSubject(const QString &subject) {
    if (m_currentSubject == subject) return;
    m_currentSubject = subject;
    emit currentSubjectChanged();
}

void FocusManager::setCurrentBlocks(const SessionPlan &blocks) {
    if (m_currentBlocks == blocks) return;
    m_currentBlocks = blocks;
    emit currentBlocksChanged();
}

void FocusManager::setLobby(bool waiting, std::optional<QString> hostName, std::optional<QString> hostId) {
    if (m_isWaitingInLobby == waiting && m_lobbyHostName == hostName && m_lobbyHostId == hostId) return;
    m_isWaitingInLobby = waiting;
    m_lobbyHostName = std::move(hostName);
    m_lobbyHostId = std::move(hostId);
    emit lobbyChanged();
}

void FocusManager::setShouldRestoreBuilder(bool restore) {
    if (m_shouldRestoreBuilder == restore) return;
    m_shouldRestoreBuilder = restore;
    emit shouldRestoreBuilderChanged();
}

void FocusManager::setShowSessionCompleted(bool show) {
    if (m_showSessionCompleted == show) return;
    m_showSessionCompleted = show;
    emit showSessionCompletedChanged();
}

void FocusManager::setShowSurveyOnHome(bool show) {
    if (m_showSurveyOnHome == show) return;
    m_showSurveyOnHome = show;
    emit showSurveyOnHomeChanged();
}

void FocusManager::setSelection(const MacActivitySelection &selection) {
    m_selection = selection;
    emit selectionChanged();
    saveSelection();
}

void FocusManager::resetSelection() {
    m_prefs.remove(kSelectionKey);
    setSelection(MacActivitySelection::defaultSelection());
}

// ---- persistence ------------------------------------------------------------

void FocusManager::loadSelection() {
    m_selection = MacActivitySelection::defaultSelection();
    if (auto data = m_prefs.dataValue(kSelectionKey))
        if (auto stored = MacActivitySelection::decode(*data)) m_selection = *stored;
    emit selectionChanged();
}

void FocusManager::saveSelection() { m_prefs.setData(kSelectionKey, m_selection.encode()); }

void FocusManager::saveLastSessionBlocks(const SessionPlan &blocks) {
    if (m_lastSessionBlocks != blocks) {
        m_lastSessionBlocks = blocks;
        emit lastSessionBlocksChanged();
    }
    m_prefs.setData(kLastSessionKey, encodePlan(blocks));
}

void FocusManager::loadLastSessionBlocks() {
    if (auto data = m_prefs.dataValue(kLastSessionKey))
        if (auto plan = decodePlan(*data)) {
            m_lastSessionBlocks = *plan;
            emit lastSessionBlocksChanged();
        }
}

void FocusManager::saveBuilderState(const SessionPlan &blocks, const QString &subject) {
    m_builderBlocks = blocks;
    m_builderSubject = subject;
    emit builderChanged();
    m_prefs.setData(kBuilderStateKey, BuilderState{blocks, subject}.encode());
}

void FocusManager::loadBuilderState() {
    std::optional<BuilderState> state;
    if (auto data = m_prefs.dataValue(kBuilderStateKey)) state = BuilderState::decode(*data);
    if (state) {
        m_builderBlocks = state->blocks;
        m_builderSubject = state->subject;
    } else {
        m_builderBlocks = defaultPlan();
        m_builderSubject = kDefaultSubject;
    }
    emit builderChanged();
}

void FocusManager::saveCurrentSessionState() {
    if (!m_sessionStartTime.isValid() || !m_sessionEndTime.isValid()) return;
    const CurrentSessionState state{m_sessionStartTime, m_sessionEndTime, m_currentSubject, m_currentBlocks,
                                    m_currentSessionId.value_or(QUuid::createUuid())};
    m_prefs.setData(kCurrentSessionKey, state.encode());
}

void FocusManager::restoreSession() {
    std::optional<CurrentSessionState> state;
    if (auto data = m_prefs.dataValue(kCurrentSessionKey)) state = CurrentSessionState::decode(*data);
    if (!state) return; // an unreadable record is left in place

    const QDateTime now = m_clock.now();
    if (now < state->endTime) {
        consoleLine(QStringLiteral("Restoring active session..."));
        setSessionTimes(state->startTime, state->endTime);
        setCurrentSubject(state->subject);
        setCurrentBlocks(state->blocks);
        m_currentSessionId = state->sessionId.value_or(QUuid::createUuid());
        setIsFocusing(true);
        startSessionTimer();
        postToMainQueue(this, [this] { updateBlockState(); });
        emit sessionStarted();
        return;
    }

    consoleLine(QStringLiteral("Session expired while app was closed. Recording completion."));
    // A record whose end lies before its start would subtract focused time.
    const double planned = std::max(0.0, state->startTime.msecsTo(state->endTime) / 1000.0);
    m_statistics.recordSessionEnded(true, planned);
    m_statistics.addHistoryItem(SessionHistoryItem{state->sessionId.value_or(QUuid::createUuid()),
                                                   now.addMSecs(-static_cast<qint64>(planned * 1000)), planned,
                                                   state->subject, m_deviceIds.deviceID()});
    m_prefs.remove(kCurrentSessionKey);
    setIsFocusing(false);
    stopMonitoring();
}

// ---- sessions ---------------------------------------------------------------

std::optional<QUrl> FocusManager::chooseSurvey() const {
    switch (m_statistics.lifetimeStats().sessionsStarted) {
    case 2: return m_statistics.surveyURL(QString::fromUtf8(build::surveyFormFirst));
    case 9: return m_statistics.surveyURL(QString::fromUtf8(build::surveyFormSecond));
    case 19: return m_statistics.surveyURL(QString::fromUtf8(build::surveyFormThird));
    default: return std::nullopt;
    }
}

void FocusManager::startSession(const QString &subject, const SessionPlan &blocks, double duration) {
    if (!std::isfinite(duration) || duration < 0) duration = totalDuration(blocks);
    const QDateTime now = m_clock.now();
    setSessionTimes(now, now.addMSecs(static_cast<qint64>(duration * 1000)));
    setCurrentSubject(subject);
    setCurrentBlocks(blocks);
    saveLastSessionBlocks(blocks);
    playSound(SoundEvent::SessionStart);
    requestNotificationPermissionIfNeeded();
    m_pendingSurveyURL = chooseSurvey();
    m_currentSessionId = QUuid::createUuid();
    postToMainQueue(this, [this] { m_statistics.recordSessionStarted(); });
    if (m_peers->guestPeerCount() + 1 >= 2) m_statistics.recordGroupSessionJoined();
    startSessionTimer();
    updateBlockState();
    setIsFocusing(true);
    saveCurrentSessionState();
    m_peers->sendStartFocus(m_sessionStartTime, m_sessionEndTime, m_currentSubject, m_currentBlocks);
    emit sessionStarted();
}

void FocusManager::startGuestSession(std::optional<QDateTime> startTime, std::optional<QDateTime> endTime,
                                     std::optional<QString> subject, std::optional<SessionPlan> blocks) {
    const bool wasInLobby = m_isWaitingInLobby;
    setSessionTimes(startTime ? *startTime : m_sessionStartTime, endTime ? *endTime : m_sessionEndTime);
    if (subject) setCurrentSubject(*subject);
    if (blocks) {
        setCurrentBlocks(*blocks);
        saveLastSessionBlocks(*blocks);
    }
    m_currentSessionId = QUuid::createUuid();
    postToMainQueue(this, [this] { m_statistics.recordSessionStarted(); });
    if (wasInLobby) m_statistics.recordGroupSessionJoined();
    startSessionTimer();
    updateBlockState();
    setIsFocusing(true);
    setLobby(false, std::nullopt, std::nullopt);
    saveCurrentSessionState();
    emit sessionStarted();
}

void FocusManager::repeatLastSession() {
    if (m_lastSessionBlocks.isEmpty()) return;
    // A copy: starting stores the plan as the last plan again.
    const SessionPlan blocks = m_lastSessionBlocks;
    startSession(kDefaultSubject, blocks, totalDuration(blocks));
}

void FocusManager::applySelection(const QStringList &appBundleIDs, const QStringList &webDomains) {
    setSelection(MacActivitySelection{appBundleIDs, webDomains});
}

void FocusManager::startPreview() {
    applyBlocking();
    setIsFocusing(true);
    setIsPreviewing(true);
    emit sessionStarted();
}

void FocusManager::startSessionTimer() {
    m_sessionTimer = m_clock.createTimer();
    connect(m_sessionTimer.get(), &ClockTimer::timeout, this, &FocusManager::updateBlockState);
    m_sessionTimer->start(kTickIntervalMs);
}

void FocusManager::stopSessionTimer() {
    m_sessionTimer.reset();
    m_lastBlockType.reset();
}

void FocusManager::applyBlocking() { m_enforcement.applyBlocking(); }
void FocusManager::stopMonitoring() { m_enforcement.stopMonitoring(); }

void FocusManager::updateBlockState() {
    if (!m_sessionTimer) return;
    if (m_currentBlocks.isEmpty()) {
        // An empty plan is one open-ended study period.
        if (m_lastBlockType == BlockType::Study) return;
        m_lastBlockType = BlockType::Study;
        applyBlocking();
        return;
    }
    if (!m_sessionStartTime.isValid()) return;

    const auto index = quillmoss::currentBlockIndex(m_currentBlocks, m_sessionStartTime, m_clock.now());
    if (!index) {
        endSession();
        return;
    }
    const SessionBlock &block = m_currentBlocks[*index];
    if (!m_lastBlockType) {
        m_lastBlockType = block.type;
        if (block.type == BlockType::Study)
            applyBlocking();
        else if (m_unlockDuringBreak)
            stopMonitoring();
        return;
    }
    if (block.type == *m_lastBlockType) return;

    const auto subject = customSubject();
    const QString suffix = subject ? QStringLiteral(" \u2014 ") + *subject : QString();
    if (block.type == BlockType::Study) {
        playSound(SoundEvent::StudyStart);
        sendSessionNotification(QStringLiteral("Back to study"),
                                QStringLiteral("Study started (") + durationLabel(block.duration) + ')' + suffix);
        m_lastBlockType = BlockType::Study;
        applyBlocking();
    } else {
        playSound(SoundEvent::BreakStart);
        sendSessionNotification(QStringLiteral("Break time"),
                                QStringLiteral("Break started (") + durationLabel(block.duration) + ')' + suffix);
        m_lastBlockType = BlockType::Break;
        if (m_unlockDuringBreak) stopMonitoring();
    }
}

void FocusManager::endSession() {
    // Nothing in force: a late second request after the first one finished.
    if (m_isEnding || (!m_isFocusing && !m_isWaitingInLobby && !m_sessionStartTime.isValid())) return;
    m_isEnding = true;

    m_sessionTimer.reset();
    m_lastBlockType.reset();
    stopMonitoring();

    if (m_sessionStartTime.isValid() && m_currentSessionId) {
        const QDateTime now = m_clock.now();
        const double actual = std::max(0.0, m_sessionStartTime.msecsTo(now) / 1000.0);
        const QDateTime plannedEnd = m_sessionEndTime.isValid() ? m_sessionEndTime : now;
        const double planned = m_sessionStartTime.msecsTo(plannedEnd) / 1000.0;
        const bool completed = now >= plannedEnd || planned * kCompletedShare <= actual;
        if (completed) {
            playSound(SoundEvent::SessionComplete);
            sendSessionNotification(QStringLiteral("Session complete"),
                                    m_currentSubject.isEmpty()
                                        ? QStringLiteral("Nice work - you finished your session.")
                                        : QStringLiteral("Nice work - ") + m_currentSubject +
                                              QStringLiteral(" is complete."));
        }
        m_statistics.recordSessionEnded(completed, actual);
        m_statistics.addHistoryItem(SessionHistoryItem{*m_currentSessionId,
                                                       now.addMSecs(-static_cast<qint64>(actual * 1000)), actual,
                                                       m_currentSubject, m_deviceIds.deviceID()});
        if (!m_isPreviewing && actual > kCompletionScreenMinimumSeconds) {
            const QString subject = m_currentSubject;
            postToMainQueue(this, [this, subject, actual] { showCompletion(subject, actual); });
        } else {
            presentPendingSurvey();
        }
    }

    setIsFocusing(false);
    setIsPreviewing(false);
    setLobby(false, std::nullopt, std::nullopt);
    setSessionTimes({}, {});
    setCurrentSubject({});
    setCurrentBlocks({});
    m_prefs.remove(kCurrentSessionKey);
    m_peers->sendStopFocus();
    m_isEnding = false;
    emit sessionEnded();
}

void FocusManager::applyRemoteStop() {
    stopSessionTimer();
    stopMonitoring();
    setIsFocusing(false);
    m_prefs.remove(kCurrentSessionKey);
    // Without this a later preview's end would find the stale start and id and
    // record a session that never ran here.
    resetRunningSession();
    emit sessionEnded();
}

void FocusManager::resetRunningSession() {
    setIsPreviewing(false);
    setSessionTimes({}, {});
    setCurrentSubject({});
    setCurrentBlocks({});
    m_currentSessionId.reset();
}

void FocusManager::showCompletion(const QString &subject, double seconds) {
    m_lastCompletedSessionInfo = SessionCompletionInfo{subject, seconds};
    emit lastCompletedSessionInfoChanged();
    setShowSessionCompleted(true);
}

void FocusManager::presentPendingSurvey() {
    if (!m_pendingSurveyURL) return;
    m_clock.callLater(kSurveyDelayMs, this, [this] {
        if (!m_pendingSurveyURL) return;
        m_currentSurveyURL = m_pendingSurveyURL;
        emit currentSurveyURLChanged();
        setShowSurveyOnHome(true);
        m_pendingSurveyURL.reset();
    });
}

bool FocusManager::startSessionWithBlocks(const QString &subject, const QVariantList &blocks, double duration) {
    const auto plan = planFromVariantList(blocks);
    if (!plan) {
        consoleLine(QStringLiteral("Refusing to start a session: unreadable plan"));
        return false;
    }
    startSession(subject, *plan, duration < 0 ? totalDuration(*plan) : duration);
    return true;
}

bool FocusManager::saveBuilderStateWithBlocks(const QVariantList &blocks, const QString &subject) {
    const auto plan = planFromVariantList(blocks);
    if (!plan) {
        consoleLine(QStringLiteral("Not saving the builder draft: unreadable plan"));
        return false;
    }
    saveBuilderState(*plan, subject);
    return true;
}

void FocusManager::dismissCompletion() {
    setShowSessionCompleted(false);
    if (m_lastCompletedSessionInfo) {
        m_lastCompletedSessionInfo.reset();
        emit lastCompletedSessionInfoChanged();
    }
    presentPendingSurvey();
}

void FocusManager::enterLobby(const QString &hostName, const QString &hostId) { setLobby(true, hostName, hostId); }
void FocusManager::leaveLobby() { setLobby(false, std::nullopt, std::nullopt); }

// ---- notifications and sounds ----------------------------------------------

void FocusManager::playSound(SoundEvent event) {
    if (!m_isMuted) m_sounds.play(event);
}

void FocusManager::requestNotificationPermissionIfNeeded() {
    if (!m_notificationsEnabled) return;
    QPointer<FocusManager> self(this);
    m_notifications.queryAuthorization([self](NotificationAuthorization status) {
        if (!self || status != NotificationAuthorization::NotDetermined) return;
        self->m_notifications.requestAuthorization([](bool) {});
    });
}

void FocusManager::sendSessionNotification(const QString &title, const QString &body) {
    if (!m_notificationsEnabled) return;
    QPointer<FocusManager> self(this);
    m_notifications.queryAuthorization([self, title, body](NotificationAuthorization status) {
        if (!self) return;
        if (status != NotificationAuthorization::Authorized && status != NotificationAuthorization::Provisional)
            return;
        self->m_notifications.post(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), title, body);
    });
}

void FocusManager::requestAccessibilityPermission() {
    if (!m_accessibility) {
        postToMainQueue(this, [this] { emit accessibilityPermissionAnswered(false); });
        return;
    }
    QPointer<FocusManager> self(this);
    m_accessibility->requestAccess([self](bool authorized) {
        if (!self) return;
        self->setIsAuthorized(authorized);
        emit self->accessibilityPermissionAnswered(authorized);
    });
}

std::optional<QString> FocusManager::customSubject() const { return quillmoss::customSubject(m_currentSubject); }

// ---- reads for screens ------------------------------------------------------

std::optional<int> FocusManager::currentBlockIndex() const {
    if (!m_sessionStartTime.isValid()) return std::nullopt;
    return quillmoss::currentBlockIndex(m_currentBlocks, m_sessionStartTime, m_clock.now());
}

double FocusManager::timeRemainingInCurrentBlock() const {
    const auto index = currentBlockIndex();
    if (!index) return 0;
    double blockEnd = 0;
    for (int i = 0; i <= *index; ++i) blockEnd += m_currentBlocks[i].duration;
    const double elapsed = m_sessionStartTime.msecsTo(m_clock.now()) / 1000.0;
    return std::max(0.0, blockEnd - elapsed);
}

QVariantList FocusManager::currentBlocksVariant() const { return blocksToVariant(m_currentBlocks); }
QVariantList FocusManager::lastSessionBlocksVariant() const { return blocksToVariant(m_lastSessionBlocks); }
QVariantList FocusManager::builderBlocksVariant() const { return blocksToVariant(m_builderBlocks); }
QString FocusManager::completedSubject() const {
    return m_lastCompletedSessionInfo ? m_lastCompletedSessionInfo->subject : QString();
}
double FocusManager::completedDuration() const {
    return m_lastCompletedSessionInfo ? m_lastCompletedSessionInfo->duration : 0;
}

} // namespace quillmoss
