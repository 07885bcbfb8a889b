#include "app/MenuBarManager.h"

#include "platform/Console.h"

#include <cmath>

namespace quillmoss {

namespace {
MenuBarManager *g_shared = nullptr;

QString twoDigits(qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

QString describe(const StatusDisplay &d) {
    switch (d.icon) {
    case StatusIcon::IdleLogo: return QStringLiteral("Status: idle");
    case StatusIcon::StudyLogo: return QStringLiteral("Status: study,%1 left").arg(d.title);
    case StatusIcon::BreakCup: return QStringLiteral("Status: break,%1 left").arg(d.title);
    }
    return {};
}
} // namespace

MenuBarManager *MenuBarManager::shared() { return g_shared; }
void MenuBarManager::setShared(MenuBarManager *instance) { g_shared = instance; }

MenuBarManager::MenuBarManager(Collaborators c, QObject *parent)
    : QObject(parent), m_clock(c.clock), m_focus(c.focus), m_settings(c.settings), m_idle(c.idleInhibit),
      m_tray(c.tray), m_updater(c.updater), m_taskbar(c.taskbar) {}

MenuBarManager::~MenuBarManager() {
    if (g_shared == this) g_shared = nullptr;
    if (m_holdWanted) m_idle.release();
}

void MenuBarManager::setupObservers() {
    if (m_observing) return;
    m_observing = true;
    // The engine's signals come after its state changed; the refresh still
    // goes through the main queue so a burst of changes settles first.
    for (auto signal : {&FocusManager::isFocusingChanged, &FocusManager::isPreviewingChanged,
                        &FocusManager::sessionTimesChanged, &FocusManager::currentBlocksChanged})
        connect(&m_focus, signal, this, &MenuBarManager::queueUpdate);
    connect(&m_settings, &AppSettings::changed, this, [this] {
        queueUpdate();
        postToMainQueue(this, [this] { applyDockIconPolicy(); });
    });
}

void MenuBarManager::startTimer() {
    if (m_timer) return;
    m_timer = m_clock.createTimer();
    connect(m_timer.get(), &ClockTimer::timeout, this, &MenuBarManager::updateStatusItem);
    m_timer->start(1000);
}

void MenuBarManager::queueUpdate() {
    postToMainQueue(this, [this] { updateStatusItem(); });
}

void MenuBarManager::setConnectedPeerCount(int count) {
    count = std::max(0, count);
    if (count == m_connectedPeers) return;
    m_connectedPeers = count;
    queueUpdate();
}

bool MenuBarManager::shouldShowItem() const {
    if (!m_settings.showMenuBarIcon()) return false;
    return !(m_connectedPeers > 0 && m_settings.hideMenuBarWhenConnected());
}

StatusDisplay MenuBarManager::currentDisplay() const {
    if (!m_focus.isFocusing()) return {};
    const double remaining = m_focus.timeRemainingInCurrentBlock();
    const qint64 s = std::isfinite(remaining) ? static_cast<qint64>(std::trunc(std::max(0.0, remaining))) : 0;
    const qint64 minutes = s / 60;
    StatusDisplay d;
    d.title = QLatin1Char(' ') + twoDigits(minutes) + QLatin1Char(':') + twoDigits(s - 60 * minutes);
    d.minutesLeft = minutes;
    const auto index = m_focus.currentBlockIndex();
    const bool onBreak = index && m_focus.currentBlocks().at(*index).type == BlockType::Break;
    d.icon = onBreak ? StatusIcon::BreakCup : StatusIcon::StudyLogo;
    return d;
}

void MenuBarManager::updatePowerAssertion(bool focusing) {
    // inhibit() is a no-op while the hold is kept or being asked for, so a
    // failed request is simply made again on the next pass.
    if (focusing)
        m_idle.inhibit(kInhibitReason);
    else if (m_holdWanted)
        m_idle.release();
    m_holdWanted = focusing;
}

void MenuBarManager::publish(const StatusDisplay &display) {
    if (display == m_display) return;
    if (display.icon != m_display.icon) consoleLine(describe(display));
    m_display = display;
    emit displayChanged();
}

void MenuBarManager::updateStatusItem() {
    updatePowerAssertion(m_focus.isFocusing());
    const StatusDisplay display = currentDisplay();
    publish(display);

    if (!shouldShowItem()) {
        if (m_tray.exists()) {
            m_tray.discard();
            emit displayChanged();
        }
        return;
    }
    if (!m_tray.exists()) {
        if (!m_tray.isHostAvailable()) {
            if (!m_noHostReported)
                consoleLine(QStringLiteral("No system tray on this desktop; the time left shows in the window title"));
            m_noHostReported = true;
            return;
        }
        m_noHostReported = false;
        if (m_creationQueued) return;
        m_creationQueued = true;
        postToMainQueue(this, [this] {
            m_creationQueued = false;
            if (m_tray.exists() || !shouldShowItem()) return;
            m_tray.create(currentDisplay());
            emit displayChanged();
        });
        return;
    }
    m_tray.show(display);
}

void MenuBarManager::applyDockIconPolicy() {
    if (!m_taskbar) return;
    const bool hide = m_settings.hideDockIcon();
    if (m_taskbar->isHiddenFromTaskbar() != hide) m_taskbar->setHiddenFromTaskbar(hide);
}

} // namespace quillmoss
