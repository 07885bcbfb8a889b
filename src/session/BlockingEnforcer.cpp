#include "session/BlockingEnforcer.h"

#include "platform/Console.h"

#include <QLocale>
#include <QPointer>
#include <QUuid>

namespace quillmoss {

namespace {
constexpr int kMonitoringIntervalMs = 1000;
constexpr std::array<BrowserFamily, 3> kBrowserOrder{BrowserFamily::Chrome, BrowserFamily::Safari,
                                                     BrowserFamily::Firefox};
} // namespace

BlockingEnforcer::BlockingEnforcer(WorkspacePort &workspace, BrowserTabPort &browsers,
                                   NotificationPort &notifications, Clock &clock, SelectionSource selection,
                                   AttemptRecorder recordBlockedAttempt, QObject *parent)
    : QObject(parent), m_workspace(workspace), m_browsers(browsers), m_notifications(notifications),
      m_clock(clock), m_selection(std::move(selection)), m_recordBlockedAttempt(std::move(recordBlockedAttempt)) {}

BlockingEnforcer::~BlockingEnforcer() { stopMonitoring(); }

QString BlockingEnforcer::logPrefix(BrowserFamily family) {
    switch (family) {
    case BrowserFamily::Chrome: return QStringLiteral("FocusManager: Blocking Chrome URL ");
    case BrowserFamily::Safari: return QStringLiteral("FocusManager: Blocking Safari URL ");
    case BrowserFamily::Firefox: return QStringLiteral("FocusManager: Blocking Firefox URL ");
    }
    return {};
}

void BlockingEnforcer::applyBlocking() {
    stopMonitoring();

    const MacActivitySelection selection = m_selection();
    m_allowed = QSet<QString>(selection.appBundleIDs.begin(), selection.appBundleIDs.end());
    const QStringList exempt = m_workspace.systemExemptIdentifiers();
    m_systemExempt = QSet<QString>(exempt.begin(), exempt.end());
    ++m_generation;

    for (const RunningApplication &app : m_workspace.runningApplications()) enforceApp(app);

    m_launchObserver = connect(&m_workspace, &WorkspacePort::appeared, this,
                               [this](const RunningApplication &app) { enforceApp(app); });
    m_workspace.setWatching(true);

    m_timer = m_clock.createTimer();
    connect(m_timer.get(), &ClockTimer::timeout, this, &BlockingEnforcer::monitoringPass);
    m_timer->start(kMonitoringIntervalMs);
    emit monitoringChanged();
}

void BlockingEnforcer::stopMonitoring() {
    const bool wasOn = m_timer != nullptr;
    if (m_launchObserver) {
        disconnect(m_launchObserver);
        m_launchObserver = {};
        m_workspace.setWatching(false);
    }
    m_timer.reset();
    ++m_generation;
    m_readInFlight.fill(false);
    if (wasOn) emit monitoringChanged();
}

void BlockingEnforcer::enforceApp(const RunningApplication &app) {
    if (app.identifier.isEmpty()) return;
    if (app.isOwnProcess || app.identifier == kOwnAppIdentifier) return;
    if (app.identifier == kFileManagerIdentifier || app.identifier == kLoginWindowIdentifier) return;
    if (m_systemExempt.contains(app.identifier)) return;
    if (m_allowed.contains(app.identifier)) return;
    if (!app.isRegular) return;
    if (app.isHidden) return;

    consoleLine(QStringLiteral("Focus: Hiding ") + app.identifier);
    m_recordBlockedAttempt(app.identifier, QStringLiteral("app"));
    m_workspace.hide(app.identifier);
}

void BlockingEnforcer::monitoringPass() {
    const quint64 generation = m_generation;
    for (const RunningApplication &app : m_workspace.runningApplications()) enforceApp(app);
    for (BrowserFamily family : kBrowserOrder) {
        if (generation != m_generation) return; // stopped while enforcing
        checkBrowserTab(family);
    }
}

std::optional<QString> BlockingEnforcer::matchBlockedEntry(const QString &address, const QStringList &entries) {
    const QLocale locale;
    const QString folded = locale.toLower(address);
    for (const QString &entry : entries) {
        // An empty entry would be "contained" in every address and close every tab.
        if (entry.trimmed().isEmpty()) continue;
        if (folded.contains(locale.toLower(entry))) return entry;
    }
    return std::nullopt;
}

void BlockingEnforcer::checkBrowserTab(BrowserFamily family) {
    const auto slot = static_cast<size_t>(family);
    if (m_readInFlight[slot]) return; // one tab per browser per second
    if (!m_browsers.isRunning(family)) return;
    const QStringList blocked = m_selection().webDomains;
    if (blocked.isEmpty()) return;

    m_readInFlight[slot] = true;
    const quint64 generation = m_generation;
    QPointer<BlockingEnforcer> self(this);
    m_browsers.readFrontTabAddress(family, [self, family, slot, generation](std::optional<QString> address) {
        if (!self || generation != self->m_generation) return; // enforcement stopped or restarted meanwhile
        self->m_readInFlight[slot] = false;
        if (!address || address->isEmpty()) return;
        // The list may have been edited while the browser answered.
        auto match = matchBlockedEntry(*address, self->m_selection().webDomains);
        if (!match) return;
        consoleLine(logPrefix(family) + *address);
        self->m_recordBlockedAttempt(*match, QStringLiteral("website"));
        self->m_browsers.closeFrontTab(family);
        self->m_notifications.post(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
                                   QStringLiteral("Focus Mode"), QStringLiteral("Site blocked by quillmoss"));
    });
}

} // namespace quillmoss
