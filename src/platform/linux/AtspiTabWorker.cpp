#include "AtspiTabWorker.h"

#include "AtspiBrowserProcesses.h"
#include "XTestKeyboard.h"
#include "platform/Console.h"

#include <QElapsedTimer>
#include <QThread>

namespace quillmoss::atspi {

namespace {

constexpr quint64 bit(unsigned state) { return quint64(1) << state; }

QString key(const Ref &ref) { return ref.bus + QLatin1Char('|') + ref.path; }

const char *familyName(BrowserFamily family) {
    switch (family) {
    case BrowserFamily::Chrome: return "Chrome";
    case BrowserFamily::Safari: return "Safari";
    case BrowserFamily::Firefox: return "Firefox";
    }
    return "?";
}

constexpr std::uint32_t kControlL = 0xffe3;
// How long the browser gets to show a tab opened or closed by us.
constexpr int kNewTabTimeoutMs = 5000;
constexpr int kTabGoneTimeoutMs = 5000;
constexpr int kActivateTimeoutMs = 1500;
// Ancestors examined when checking that a text field sits in a toolbar.
constexpr int kMaxToolBarDepth = 10;

} // namespace

AtspiTabWorker::AtspiTabWorker(const QString &sessionBusAddress, const QByteArray &displayName, int callTimeoutMs)
    : m_sessionBusAddress(sessionBusAddress), m_displayName(displayName), m_callTimeoutMs(callTimeoutMs) {}

AtspiTabWorker::~AtspiTabWorker() = default;

bool AtspiTabWorker::reachable() {
    if (!m_client)
        m_client = std::make_unique<AtspiClient>(m_sessionBusAddress, m_callTimeoutMs);
    m_client->beginOperation();
    const bool ok = m_client->ensureConnected();
    // Reads run every second: say it once per change, not every time.
    if (!ok && !m_reportedUnreachable) {
        consoleLine(QStringLiteral("Browser tabs: the accessibility bus cannot be reached (%1); tabs cannot be read")
                        .arg(m_client->lastError().isEmpty() ? QStringLiteral("accessibility is off")
                                                             : m_client->lastError()));
    } else if (ok && m_reportedUnreachable) {
        consoleLine(QStringLiteral("Browser tabs: accessibility bus connected"));
    }
    m_reportedUnreachable = !ok;
    return ok;
}

void AtspiTabWorker::read(quint64 requestId, int family) {
    std::optional<QString> address;
    if (reachable()) {
        Ref field;
        if (const auto window = browserWindow(BrowserFamily(family), &field)) {
            address = m_client->text(field);
            if (!address)
                m_addressFields.remove(key(window->frame));
        }
    }
    emit readFinished(requestId, family, address.has_value(), address.value_or(QString()));
}

void AtspiTabWorker::close(int family) {
    bool closed = false;
    if (reachable()) {
        if (const auto window = browserWindow(BrowserFamily(family), nullptr))
            closed = closeWith(*window, BrowserFamily(family));
    }
    if (!closed)
        consoleLine(QStringLiteral("Browser tabs: could not close the front %1 tab")
                        .arg(QLatin1String(familyName(BrowserFamily(family)))));
    emit closeFinished(family, closed);
}

QList<AtspiTabWorker::Window> AtspiTabWorker::windowCandidates(BrowserFamily family) {
    const auto apps = m_client->applications();
    if (!apps)
        return {};

    // Forget applications that left the bus.
    QSet<QString> present;
    for (const Ref &app : *apps)
        present.insert(app.bus);
    for (auto it = m_families.begin(); it != m_families.end();) {
        if (present.contains(it.key())) {
            ++it;
        } else {
            m_pids.remove(it.key());
            m_lastBrowserWindow.remove(it.key());
            it = m_families.erase(it);
        }
    }

    // The active window first; then the browser window the user had in front
    // last (while another application is in front); then any titled one.
    QList<Window> active, remembered, others, unseen;
    for (const Ref &app : *apps) {
        if (!m_families.contains(app.bus)) {
            const auto pid = m_client->processId(app.bus);
            if (!pid)
                continue; // try again next time
            m_pids.insert(app.bus, *pid);
            // By executable, not by the localised application name.
            m_families.insert(app.bus, familyOfProcess(*pid));
        }
        if (m_families.value(app.bus) != family)
            continue;
        const auto frames = m_client->children(app);
        if (!frames)
            continue;
        const Window base{Ref{}, app.bus, m_pids.value(app.bus)};
        for (const Ref &frame : *frames) {
            const auto states = m_client->states(frame);
            if (!states)
                continue;
            Window window = base;
            window.frame = frame;
            const bool usedLast = frame == m_lastBrowserWindow.value(app.bus);
            if (*states & bit(StateActive)) {
                active.append(window);
            } else if (!(*states & bit(StateShowing))) {
                // A minimised browser still runs its tabs: look there last.
                window.unseen = true;
                if (usedLast)
                    unseen.prepend(window);
                else
                    unseen.append(window);
            } else if (usedLast)
                remembered.append(window);
            else
                others.append(window);
        }
    }
    for (Window &window : others)
        window.otherwise = true;
    for (Window &window : unseen)
        window.otherwise = true;
    return active + remembered + others + unseen;
}

std::optional<AtspiTabWorker::Window> AtspiTabWorker::browserWindow(BrowserFamily family, Ref *field) {
    // A browser window is one with an address field; the library, settings
    // or download windows of a browser are skipped.
    const QList<Window> candidates = windowCandidates(family);
    for (const Window &window : candidates) {
        // Browsers keep untitled helper frames (popups, hover cards); only
        // look into those when there is no better candidate.
        if (window.otherwise && m_client->name(window.frame).value_or(QString()).isEmpty())
            continue;
        if (const auto found = addressField(window)) {
            m_lastBrowserWindow.insert(window.app, window.frame);
            if (field)
                *field = *found;
            return window;
        }
    }
    return std::nullopt;
}

bool AtspiTabWorker::insideToolBar(Ref object, const Ref &frame) {
    for (int depth = 0; depth < kMaxToolBarDepth; ++depth) {
        const auto parent = m_client->parent(object);
        if (!parent || parent->isNull() || *parent == frame)
            return false;
        if (m_client->role(*parent) == RoleToolBar)
            return true;
        object = *parent;
    }
    return false;
}

std::optional<Ref> AtspiTabWorker::addressField(const Window &window) {
    const Ref &frame = window.frame;
    const quint64 wanted = bit(StateEditable) | (window.unseen ? 0 : bit(StateShowing));
    const auto cached = m_addressFields.constFind(key(frame));
    if (cached != m_addressFields.constEnd()) {
        const auto states = m_client->states(*cached);
        if (states && (*states & wanted) == wanted)
            return *cached;
        m_addressFields.remove(key(frame));
    }
    // The address field is the first editable one-line field in the window's
    // toolbars; its name is localised, so role and place identify it. Ask for
    // the first match only, which keeps the browser from walking the page.
    const QList<unsigned> roles{RoleEntry, RoleComboBox, RoleText};
    const QList<unsigned> states = window.unseen ? QList<unsigned>{StateEditable, StateSingleLine}
                                                 : QList<unsigned>{StateEditable, StateShowing, StateSingleLine};
    auto candidates = m_client->matches(frame, roles, states, 1);
    if (!candidates)
        return std::nullopt;
    if (!candidates->isEmpty() && !insideToolBar(candidates->constFirst(), frame))
        candidates = m_client->matches(frame, roles, states, 4);
    if (!candidates)
        return std::nullopt;
    for (const Ref &candidate : *candidates) {
        if (insideToolBar(candidate, frame)) {
            m_addressFields.insert(key(frame), candidate);
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<AtspiTabWorker::TabStrip> AtspiTabWorker::tabStrip(const Window &window) {
    // A window that is minimised meanwhile (enforcement hides browsers that
    // are not allowed) stops showing its strip: then the hidden ones count.
    const QList<QList<unsigned>> tries = window.unseen ? QList<QList<unsigned>>{{}}
                                                       : QList<QList<unsigned>>{{StateShowing}, {}};
    for (const QList<unsigned> &states : tries) {
        const auto lists = m_client->matches(window.frame, {RolePageTabList}, states, 0);
        if (!lists)
            return std::nullopt;
        for (const Ref &list : *lists) {
            const auto tabs = m_client->matches(list, {RolePageTab}, {}, 0);
            if (!tabs || tabs->isEmpty())
                continue;
            const auto selected = m_client->matches(list, {RolePageTab}, {StateSelected}, 1);
            if (selected && !selected->isEmpty())
                return TabStrip{*tabs, selected->constFirst()};
        }
    }
    return std::nullopt;
}

std::optional<Ref> AtspiTabWorker::closeButton(const Ref &tab) {
    const auto children = m_client->children(tab);
    if (!children)
        return std::nullopt;
    // A tab holds its close button last (after mute or audio indicators).
    for (auto it = children->crbegin(); it != children->crend(); ++it) {
        if (m_client->role(*it) == RolePushButton && !m_client->actionNames(*it).value_or(QStringList()).isEmpty())
            return *it;
    }
    return std::nullopt;
}

template <typename Condition>
bool AtspiTabWorker::waitForTabs(const Window &window, int timeoutMs, Condition condition) {
    QElapsedTimer waited;
    waited.start();
    do {
        if (const auto strip = tabStrip(window); strip && condition(*strip))
            return true;
        if (QThread::currentThread()->isInterruptionRequested())
            return false;
        QThread::msleep(40);
    } while (waited.elapsed() < timeoutMs);
    return false;
}

bool AtspiTabWorker::typeChord(const Window &window, std::uint32_t keysym) {
    XTestKeyboard keyboard(m_displayName);
    if (!keyboard.isUsable())
        return false;
    // The window's title tells it from the browser's other windows.
    const auto target = keyboard.findWindow(window.pid, m_client->name(window.frame).value_or(QString()));
    if (!target || !keyboard.activate(*target, kActivateTimeoutMs))
        return false;
    return keyboard.sendChord(kControlL, keysym);
}

bool AtspiTabWorker::closeWith(const Window &window, BrowserFamily family) {
    const auto strip = tabStrip(window);
    if (!strip) {
        // No tab strip in the tree: the keyboard is all that is left, even
        // though on a last tab it closes the window.
        consoleLine(QStringLiteral("Browser tabs: %1 shows no tab strip; closing with the keyboard")
                        .arg(QLatin1String(familyName(family))));
        return typeChord(window, 'w');
    }
    const Ref blocked = strip->selected;
    const auto button = closeButton(blocked);

    // Closing the only tab would close the window (and often the browser):
    // open a fresh tab first, so the user is left with an empty page instead.
    if (strip->tabs.size() == 1) {
        if (!typeChord(window, 't'))
            return false;
        if (!waitForTabs(window, kNewTabTimeoutMs, [](const TabStrip &s) { return s.tabs.size() >= 2; }))
            return false;
    }
    const auto blockedGone = [&blocked](const TabStrip &s) { return !s.tabs.contains(blocked); };
    if (button && m_client->doAction(*button, 0))
        return waitForTabs(window, kTabGoneTimeoutMs, blockedGone);

    // No close button that works: make the blocked tab the current one and
    // close it with the keyboard, never when it is the last tab.
    const auto now = tabStrip(window);
    if (!now || !now->tabs.contains(blocked) || now->tabs.size() < 2)
        return false;
    if (!(now->selected == blocked)) {
        m_client->doAction(blocked, 0);
        if (!waitForTabs(window, kTabGoneTimeoutMs,
                         [&blocked](const TabStrip &s) { return s.selected == blocked && s.tabs.size() >= 2; }))
            return false;
    }
    return typeChord(window, 'w') && waitForTabs(window, kTabGoneTimeoutMs, blockedGone);
}

} // namespace quillmoss::atspi
