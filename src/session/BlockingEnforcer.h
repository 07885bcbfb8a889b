#pragma once

#include "platform/BrowserTabPort.h"
#include "platform/Clock.h"
#include "platform/NotificationPort.h"
#include "platform/WorkspacePort.h"
#include "selection/ActivitySelection.h"
#include "session/EnforcementPort.h"

#include <QObject>
#include <QSet>

#include <array>
#include <functional>
#include <memory>

namespace quillmoss {

// Keeps disallowed applications out of sight and closes blocked tabs while
// switched on: at every launch report and on a one-second pass.
class BlockingEnforcer final : public QObject, public EnforcementPort {
    Q_OBJECT
    Q_PROPERTY(bool isMonitoring READ isMonitoring NOTIFY monitoringChanged)
public:
    using SelectionSource = std::function<MacActivitySelection()>;
    using AttemptRecorder = std::function<void(const QString &target, const QString &kind)>;

    BlockingEnforcer(WorkspacePort &workspace, BrowserTabPort &browsers, NotificationPort &notifications,
                     Clock &clock, SelectionSource selection, AttemptRecorder recordBlockedAttempt,
                     QObject *parent = nullptr);
    ~BlockingEnforcer() override;

    void applyBlocking() override;
    void stopMonitoring() override;
    bool isMonitoring() const override { return m_timer != nullptr; }

    // The per-application rule.
    void enforceApp(const RunningApplication &application);
    // The per-browser rule; the read comes back asynchronously.
    void checkBrowserTab(BrowserFamily family);
    // One monitoring pass: every application, then the browsers in order.
    void monitoringPass();

    // The first blocked entry the address contains, compared without regard
    // to case under the current locale; empty entries never match.
    static std::optional<QString> matchBlockedEntry(const QString &address, const QStringList &entries);
    static QString logPrefix(BrowserFamily family);

    static inline const QString kFileManagerIdentifier = QStringLiteral("com.apple.finder");
    static inline const QString kLoginWindowIdentifier = QStringLiteral("com.apple.loginwindow");

signals:
    void monitoringChanged();

private:
    WorkspacePort &m_workspace;
    BrowserTabPort &m_browsers;
    NotificationPort &m_notifications;
    Clock &m_clock;
    SelectionSource m_selection;
    AttemptRecorder m_recordBlockedAttempt;

    std::unique_ptr<ClockTimer> m_timer;
    QMetaObject::Connection m_launchObserver;
    QSet<QString> m_allowed;        // captured at applyBlocking()
    QSet<QString> m_systemExempt;   // captured at applyBlocking()
    quint64 m_generation = 0;       // bumps on every start/stop; stale reads are dropped
    std::array<bool, 3> m_readInFlight{};
};

} // namespace quillmoss
