#include "X11Workspace.h"

#include "DesktopEntryIndex.h"
#include "X11SandboxApp.h"
#include "platform/Console.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QSysInfo>

#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace quillmoss {

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

constexpr uint32_t IconicState = 3; // ICCCM, in WM_STATE and WM_CHANGE_STATE

// Takes ownership of an error out-parameter and tells whether it says the
// window is gone. Every other error is treated as "no value".
bool windowGone(xcb_generic_error_t *error) {
    const Owned<xcb_generic_error_t> owned(error);
    return error && error->error_code == XCB_WINDOW;
}

QString propertyText(const xcb_get_property_reply_t *reply) {
    if (!reply || reply->format != 8)
        return {};
    const auto *data = static_cast<const char *>(
        xcb_get_property_value(const_cast<xcb_get_property_reply_t *>(reply)));
    QByteArray bytes(data, xcb_get_property_value_length(const_cast<xcb_get_property_reply_t *>(reply)));
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes).trimmed();
}

bool sameHost(const QString &machine, const QString &hostName) {
    const auto firstLabel = [](const QString &name) { return name.section(QLatin1Char('.'), 0, 0).toCaseFolded(); };
    return machine.isEmpty() || machine == QLatin1String("localhost") || firstLabel(machine) == firstLabel(hostName);
}

// Where a window comes from; these do not change while it is managed, so they
// are read once and kept until it is destroyed or leaves the client list.
struct WindowFacts {
    QString instance;
    QString wmClass;
    QString gtkApplicationId;
    QString kdeDesktopFile;
    qint64 pid = 0; // 0: unknown
    bool ordinaryType = true;
    // Derived from the above and the desktop entries.
    bool resolved = false;
    quint64 resolvedGeneration = 0;
    bool sandboxLooked = false;
    SandboxApp sandbox;
    QString identifier;
    QString displayName;
    bool own = false;
};

struct StaticCookies {
    xcb_window_t window;
    xcb_get_property_cookie_t wmClass;
    xcb_get_property_cookie_t pid;
    xcb_get_property_cookie_t type;
    xcb_get_property_cookie_t gtkApplicationId;
    xcb_get_property_cookie_t kdeDesktopFile;
    xcb_get_property_cookie_t machine;
    bool askedResource;
    xcb_res_query_client_ids_cookie_t resource;
};

struct StateCookies {
    xcb_get_property_cookie_t wmState;
    xcb_get_property_cookie_t netState;
};

// One managed window as it is now.
struct WindowNow {
    xcb_window_t window;
    QString identifier;
    QString displayName;
    bool own;
    bool ordinary;
    bool iconic;
};

QStringList commonExemptIdentifiers() {
    return {
        // File managers, under their desktop-entry IDs and the WM_CLASS
        // names they fall back to when no desktop entry is installed.
        QStringLiteral("org.gnome.Nautilus"), QStringLiteral("nautilus"), QStringLiteral("Nautilus"),
        QStringLiteral("org.kde.dolphin"), QStringLiteral("dolphin"),
        QStringLiteral("nemo"), QStringLiteral("Nemo"),
        QStringLiteral("thunar"), QStringLiteral("Thunar"), QStringLiteral("org.xfce.thunar"),
        QStringLiteral("pcmanfm"), QStringLiteral("Pcmanfm"), QStringLiteral("pcmanfm-qt"),
        QStringLiteral("caja"), QStringLiteral("Caja"),
        QStringLiteral("io.elementary.files"),
        // Screen lockers and greeters: hiding them would hide the unlock prompt.
        QStringLiteral("xscreensaver"), QStringLiteral("XScreenSaver"),
        QStringLiteral("light-locker"), QStringLiteral("gnome-screensaver"),
        QStringLiteral("mate-screensaver"), QStringLiteral("cinnamon-screensaver"),
        QStringLiteral("xfce4-screensaver"), QStringLiteral("org.kde.kscreenlocker_greet"),
        QStringLiteral("kscreenlocker_greet"), QStringLiteral("i3lock"), QStringLiteral("xsecurelock"),
        QStringLiteral("lightdm-gtk-greeter"), QStringLiteral("slick-greeter"),
        QStringLiteral("org.gnome.Shell"),
        // Authentication prompts (administrator password for the system).
        QStringLiteral("polkit-gnome-authentication-agent-1"), QStringLiteral("lxpolkit"),
        QStringLiteral("org.kde.polkit-kde-authentication-agent-1"),
    };
}

} // namespace

struct X11Workspace::Private {
    explicit Private(X11Workspace *owner) : q(owner) {}

    X11Workspace *q;
    QString displayLabel;
    DesktopEntryIndex *entries = nullptr;
    std::unique_ptr<DesktopEntryIndex> ownedEntries;
    qint64 ownPid = QCoreApplication::applicationPid();
    QString hostName = QSysInfo::machineHostName();

    xcb_connection_t *c = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    int screen = 0;
    xcb_window_t root = XCB_NONE;
    bool hasResourceExtension = false;
    xcb_atom_t wmState = XCB_NONE;
    xcb_atom_t wmChangeState = XCB_NONE;
    xcb_atom_t gtkApplicationId = XCB_NONE;
    xcb_atom_t kdeDesktopFile = XCB_NONE;
    QSocketNotifier *notifier = nullptr;

    xcb_window_t wmCheckWindow = XCB_NONE; // set while an EWMH window manager runs
    QHash<xcb_window_t, WindowFacts> facts;
    // Within one pass: windows of one process share its sandbox answer.
    QHash<qint64, SandboxApp> sandboxByPid;

    bool watching = false;
    // Regular applications at the last look, with whether they were hidden.
    QHash<QString, bool> lastSeen;
    bool needsRefresh = false;
    bool wmRecheck = false;
    bool followUpQueued = false;
    bool inRefresh = false;

    bool available() const { return c && wmCheckWindow != XCB_NONE; }

    void connectTo(const QString &displayName);
    void disconnect();
    bool connectionLost();
    void checkWindowManager(bool initial);
    void onReadable();
    void handle(const xcb_generic_event_t *event);
    void handleAll(xcb_generic_event_t *(*next)(xcb_connection_t *));
    void drainQueued();
    void afterEvents();
    void queueFollowUp();
    void refreshAndReport();

    std::vector<WindowNow> scan();
    StaticCookies askStatic(xcb_window_t window);
    bool collectStatic(const StaticCookies &cookies, WindowFacts &out);
    void resolve(WindowFacts &f, quint64 generation);
    bool isOrdinaryType(const xcb_ewmh_get_atoms_reply_t &types) const;
    bool isStaticAtom(xcb_atom_t atom) const;
    void iconify(xcb_window_t window);
    static QList<RunningApplication> group(const std::vector<WindowNow> &windows);
};

void X11Workspace::Private::connectTo(const QString &displayName) {
    const QByteArray name = displayName.isEmpty() ? qgetenv("DISPLAY") : displayName.toLocal8Bit();
    displayLabel = QString::fromLocal8Bit(name);
    if (name.isEmpty()) {
        consoleLine(QStringLiteral("X11 workspace: no X11 display ($DISPLAY is not set); "
                                   "other applications' windows cannot be hidden"));
        return;
    }
    c = xcb_connect(name.constData(), &screen);
    if (xcb_connection_has_error(c)) {
        consoleLine(QStringLiteral("X11 workspace: cannot open X11 display \"%1\"; "
                                   "other applications' windows cannot be hidden").arg(displayLabel));
        xcb_disconnect(c);
        c = nullptr;
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem; ++i)
        xcb_screen_next(&it);
    root = it.data ? it.data->root : XCB_NONE;

    // One round trip for every atom and the extension check.
    xcb_prefetch_extension_data(c, &xcb_res_id);
    xcb_intern_atom_cookie_t *ewmhCookies = xcb_ewmh_init_atoms(c, &ewmh);
    const char *const names[] = {"WM_STATE", "WM_CHANGE_STATE", "_GTK_APPLICATION_ID", "_KDE_NET_WM_DESKTOP_FILE"};
    xcb_atom_t *const targets[] = {&wmState, &wmChangeState, &gtkApplicationId, &kdeDesktopFile};
    xcb_intern_atom_cookie_t cookies[4];
    for (int i = 0; i < 4; ++i)
        cookies[i] = xcb_intern_atom(c, 0, uint16_t(strlen(names[i])), names[i]);
    ewmhReady = xcb_ewmh_init_atoms_replies(&ewmh, ewmhCookies, nullptr);
    for (int i = 0; i < 4; ++i) {
        const Owned<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        *targets[i] = reply ? reply->atom : XCB_NONE;
    }
    const xcb_query_extension_reply_t *res = xcb_get_extension_data(c, &xcb_res_id);
    if (res && res->present) {
        // Client IDs by PID arrived with version 1.2.
        const Owned<xcb_res_query_version_reply_t> version(
            xcb_res_query_version_reply(c, xcb_res_query_version(c, 1, 2), nullptr));
        hasResourceExtension = version && (version->server_major > 1
                                           || (version->server_major == 1 && version->server_minor >= 2));
    }
    if (!ewmhReady || !root || xcb_connection_has_error(c)) {
        consoleLine(QStringLiteral("X11 workspace: X11 display \"%1\" did not answer; "
                                   "other applications' windows cannot be hidden").arg(displayLabel));
        disconnect();
        return;
    }

    // The root tells about the client list, the active window and a window
    // manager that starts or stops.
    const uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &rootMask);
    notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, q);
    QObject::connect(notifier, &QSocketNotifier::activated, q, [this] { onReadable(); });
    checkWindowManager(true);
}

void X11Workspace::Private::disconnect() {
    delete notifier;
    notifier = nullptr;
    if (ewmhReady)
        xcb_ewmh_connection_wipe(&ewmh);
    ewmhReady = false;
    if (c)
        xcb_disconnect(c);
    c = nullptr;
    wmCheckWindow = XCB_NONE;
    facts.clear();
    lastSeen.clear();
}

bool X11Workspace::Private::connectionLost() {
    if (!c || !xcb_connection_has_error(c))
        return false;
    const bool wasAvailable = available();
    consoleLine(QStringLiteral("X11 workspace: lost the connection to X11 display \"%1\"; "
                               "other applications' windows cannot be hidden").arg(displayLabel));
    // This may run inside the notifier's own slot: disable it now, delete it
    // later. Callers check `c` after anything that can get here.
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
    }
    disconnect();
    if (wasAvailable)
        emit q->availabilityChanged(false);
    return true;
}

void X11Workspace::Private::checkWindowManager(bool initial) {
    wmRecheck = false;
    if (!c)
        return;
    const bool wasAvailable = available();
    xcb_window_t found = XCB_NONE;
    xcb_window_t child = XCB_NONE;
    xcb_generic_error_t *error = nullptr;
    if (xcb_ewmh_get_supporting_wm_check_reply(&ewmh, xcb_ewmh_get_supporting_wm_check(&ewmh, root), &child, &error)
        && child != XCB_NONE) {
        // Listen for its destruction first, then confirm it is alive and
        // points to itself (a crashed manager leaves a stale root property).
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, child, XCB_CW_EVENT_MASK, &mask);
        xcb_window_t self = XCB_NONE;
        xcb_generic_error_t *childError = nullptr;
        if (xcb_ewmh_get_supporting_wm_check_reply(&ewmh, xcb_ewmh_get_supporting_wm_check(&ewmh, child), &self,
                                                   &childError)
            && self == child)
            found = child;
        std::free(childError);
    }
    std::free(error);
    if (connectionLost())
        return;
    wmCheckWindow = found;
    drainQueued();
    const bool nowAvailable = available();
    if (initial) {
        if (!nowAvailable)
            consoleLine(QStringLiteral("X11 workspace: no EWMH window manager on X11 display \"%1\"; "
                                       "other applications' windows cannot be hidden").arg(displayLabel));
        return;
    }
    if (nowAvailable == wasAvailable)
        return;
    if (nowAvailable) {
        consoleLine(QStringLiteral("X11 workspace: a window manager now runs on X11 display \"%1\"").arg(displayLabel));
        needsRefresh = true;
    } else {
        consoleLine(QStringLiteral("X11 workspace: the window manager of X11 display \"%1\" has gone; "
                                   "other applications' windows cannot be hidden").arg(displayLabel));
        // Windows come back mapped when their manager leaves: judge them
        // afresh once one runs again.
        lastSeen.clear();
        facts.clear();
    }
    emit q->availabilityChanged(nowAvailable);
}

void X11Workspace::Private::onReadable() {
    if (!c)
        return;
    handleAll(xcb_poll_for_event);
    if (connectionLost())
        return;
    afterEvents();
}

void X11Workspace::Private::drainQueued() {
    if (!c)
        return;
    // Events that arrived during our own round trips are already off the
    // socket, so the notifier would not fire for them.
    handleAll(xcb_poll_for_queued_event);
    if (needsRefresh || wmRecheck)
        queueFollowUp();
}

void X11Workspace::Private::handleAll(xcb_generic_event_t *(*next)(xcb_connection_t *)) {
    while (xcb_generic_event_t *event = next(c)) {
        handle(event);
        std::free(event);
    }
}

void X11Workspace::Private::queueFollowUp() {
    if (followUpQueued)
        return;
    followUpQueued = true;
    QMetaObject::invokeMethod(
        q, [this] {
            followUpQueued = false;
            if (!connectionLost())
                afterEvents();
        },
        Qt::QueuedConnection);
}

void X11Workspace::Private::afterEvents() {
    if (wmRecheck)
        checkWindowManager(false);
    if (needsRefresh && !inRefresh)
        refreshAndReport();
}

void X11Workspace::Private::handle(const xcb_generic_event_t *event) {
    switch (event->response_type & ~0x80) {
    case 0:
        // An error of a request without a reply (selecting input on a window
        // that vanished meanwhile): nothing to do.
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        if (e->window == root) {
            if (e->atom == ewmh._NET_SUPPORTING_WM_CHECK)
                wmRecheck = true;
            else if (e->atom == ewmh._NET_CLIENT_LIST || e->atom == ewmh._NET_CLIENT_LIST_STACKING
                     || e->atom == ewmh._NET_ACTIVE_WINDOW)
                needsRefresh = true;
        } else if (e->atom == wmState || e->atom == ewmh._NET_WM_STATE) {
            needsRefresh = true;
        } else if (isStaticAtom(e->atom)) {
            facts.remove(e->window);
            needsRefresh = true;
        }
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_destroy_notify_event_t *>(event);
        if (e->window == wmCheckWindow)
            wmRecheck = true;
        if (facts.remove(e->window))
            needsRefresh = true;
        break;
    }
    case XCB_MAP_NOTIFY:
    case XCB_UNMAP_NOTIFY:
        needsRefresh = true;
        break;
    default:
        break;
    }
}

bool X11Workspace::Private::isStaticAtom(xcb_atom_t atom) const {
    return atom == XCB_ATOM_WM_CLASS || atom == XCB_ATOM_WM_CLIENT_MACHINE || atom == ewmh._NET_WM_PID
        || atom == ewmh._NET_WM_WINDOW_TYPE || atom == gtkApplicationId || atom == kdeDesktopFile;
}

void X11Workspace::Private::refreshAndReport() {
    needsRefresh = false;
    if (!watching || !available())
        return;
    inRefresh = true;
    const QList<RunningApplication> applications = group(scan());
    inRefresh = false;
    if (!c)
        return;
    QHash<QString, bool> seen;
    QList<RunningApplication> appeared;
    for (const RunningApplication &app : applications) {
        if (!app.isRegular || app.identifier.isEmpty())
            continue;
        seen.insert(app.identifier, app.isHidden);
        const auto before = lastSeen.constFind(app.identifier);
        const bool wasShown = before != lastSeen.constEnd() && !before.value();
        if (!app.isHidden && !wasShown)
            appeared.append(app);
    }
    lastSeen = std::move(seen);
    if (needsRefresh)
        queueFollowUp();
    // A receiver may hide, stop watching or even delete this adapter.
    const QPointer<X11Workspace> alive(q);
    for (const RunningApplication &app : std::as_const(appeared)) {
        if (!alive || !watching)
            return;
        emit q->appeared(app);
    }
}

StaticCookies X11Workspace::Private::askStatic(xcb_window_t window) {
    StaticCookies k{};
    k.window = window;
    k.wmClass = xcb_icccm_get_wm_class(c, window);
    k.pid = xcb_ewmh_get_wm_pid(&ewmh, window);
    k.type = xcb_ewmh_get_wm_window_type(&ewmh, window);
    k.gtkApplicationId = xcb_get_property(c, 0, window, gtkApplicationId, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    k.kdeDesktopFile = xcb_get_property(c, 0, window, kdeDesktopFile, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    k.machine = xcb_get_property(c, 0, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, 0, 64);
    k.askedResource = hasResourceExtension;
    if (hasResourceExtension) {
        const xcb_res_client_id_spec_t pidQuery{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        k.resource = xcb_res_query_client_ids(c, 1, &pidQuery);
    }
    return k;
}

bool X11Workspace::Private::collectStatic(const StaticCookies &k, WindowFacts &f) {
    bool gone = false;
    xcb_generic_error_t *error = nullptr;

    xcb_icccm_get_wm_class_reply_t wmClass;
    if (xcb_icccm_get_wm_class_reply(c, k.wmClass, &wmClass, &error)) {
        f.instance = QString::fromLatin1(wmClass.instance_name);
        f.wmClass = QString::fromLatin1(wmClass.class_name);
        xcb_icccm_get_wm_class_reply_wipe(&wmClass);
    }
    gone |= windowGone(std::exchange(error, nullptr));

    uint32_t propertyPid = 0;
    if (!xcb_ewmh_get_wm_pid_reply(&ewmh, k.pid, &propertyPid, &error))
        propertyPid = 0;
    gone |= windowGone(std::exchange(error, nullptr));

    xcb_ewmh_get_atoms_reply_t types;
    if (xcb_ewmh_get_wm_window_type_reply(&ewmh, k.type, &types, &error)) {
        f.ordinaryType = isOrdinaryType(types);
        xcb_ewmh_get_atoms_reply_wipe(&types);
    }
    gone |= windowGone(std::exchange(error, nullptr));

    const auto text = [&](xcb_get_property_cookie_t cookie) {
        const Owned<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, &error));
        gone |= windowGone(std::exchange(error, nullptr));
        return propertyText(reply.get());
    };
    f.gtkApplicationId = text(k.gtkApplicationId);
    f.kdeDesktopFile = text(k.kdeDesktopFile);
    const QString machine = text(k.machine);

    qint64 serverPid = 0;
    if (k.askedResource) {
        const Owned<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(c, k.resource, &error));
        gone |= windowGone(std::exchange(error, nullptr));
        if (reply) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
                 xcb_res_client_id_value_next(&it)) {
                if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID)
                    && xcb_res_client_id_value_value_length(it.data) >= 1)
                    serverPid = *xcb_res_client_id_value_value(it.data);
            }
        }
    }
    // The server knows the PID of local clients for certain; the property is
    // the client's word and only means something on this machine.
    if (serverPid > 0)
        f.pid = serverPid;
    else if (propertyPid > 0 && sameHost(machine, hostName))
        f.pid = propertyPid;
    return !gone;
}

bool X11Workspace::Private::isOrdinaryType(const xcb_ewmh_get_atoms_reply_t &types) const {
    // The first type this code knows decides (the list is in order of
    // preference and may start with vendor-specific types).
    for (uint32_t i = 0; i < types.atoms_len; ++i) {
        const xcb_atom_t t = types.atoms[i];
        if (t == ewmh._NET_WM_WINDOW_TYPE_NORMAL || t == ewmh._NET_WM_WINDOW_TYPE_DIALOG)
            return true;
        for (xcb_atom_t other : {ewmh._NET_WM_WINDOW_TYPE_DESKTOP, ewmh._NET_WM_WINDOW_TYPE_DOCK,
                                 ewmh._NET_WM_WINDOW_TYPE_TOOLBAR, ewmh._NET_WM_WINDOW_TYPE_MENU,
                                 ewmh._NET_WM_WINDOW_TYPE_UTILITY, ewmh._NET_WM_WINDOW_TYPE_SPLASH,
                                 ewmh._NET_WM_WINDOW_TYPE_DROPDOWN_MENU, ewmh._NET_WM_WINDOW_TYPE_POPUP_MENU,
                                 ewmh._NET_WM_WINDOW_TYPE_TOOLTIP, ewmh._NET_WM_WINDOW_TYPE_NOTIFICATION,
                                 ewmh._NET_WM_WINDOW_TYPE_COMBO, ewmh._NET_WM_WINDOW_TYPE_DND}) {
            if (t == other)
                return false;
        }
    }
    return true;
}

void X11Workspace::Private::resolve(WindowFacts &f, quint64 generation) {
    if (f.resolved && f.resolvedGeneration == generation)
        return;
    f.resolved = true;
    f.resolvedGeneration = generation;
    f.own = f.pid > 0 && f.pid == ownPid;
    QString id;
    if (f.own) {
        id = ownIdentifier();
    } else if (!f.gtkApplicationId.isEmpty()) {
        id = f.gtkApplicationId;
    } else if (!f.kdeDesktopFile.isEmpty()) {
        // Seen both as "org.kde.dolphin" and as a file name or path.
        id = f.kdeDesktopFile.section(QLatin1Char('/'), -1);
        if (id.endsWith(QLatin1String(".desktop")))
            id.chop(8);
    }
    if (id.isEmpty() && f.pid > 0) {
        if (!f.sandboxLooked) {
            auto known = sandboxByPid.constFind(f.pid);
            if (known == sandboxByPid.constEnd())
                known = sandboxByPid.insert(f.pid, sandboxAppOfProcess(f.pid));
            f.sandbox = *known;
            f.sandboxLooked = true;
        }
        if (f.sandbox.kind == SandboxApp::Kind::Flatpak) {
            id = f.sandbox.name;
        } else if (f.sandbox.kind == SandboxApp::Kind::Snap) {
            // snapd installs "<snap>_<app>.desktop"; the main app is named
            // like the snap.
            const QString main = f.sandbox.name + QLatin1Char('_') + f.sandbox.name;
            id = entries->entry(main) ? main : f.sandbox.name;
        }
    }
    if (id.isEmpty() && !f.wmClass.isEmpty())
        id = entries->idForStartupWMClass(f.wmClass);
    if (id.isEmpty() && !f.wmClass.isEmpty())
        id = entries->idMatchingIgnoringCase(f.wmClass);
    if (id.isEmpty() && !f.instance.isEmpty())
        id = entries->idMatchingIgnoringCase(f.instance);
    if (id.isEmpty())
        id = f.wmClass.isEmpty() ? f.instance : f.wmClass;
    f.identifier = id;
    const std::optional<DesktopEntry> entry = id.isEmpty() ? std::nullopt : entries->entry(id);
    if (entry && !entry->name.isEmpty())
        f.displayName = entry->name;
    else if (f.own)
        f.displayName = QStringLiteral("quillmoss");
    else
        f.displayName = f.wmClass.isEmpty() ? id : f.wmClass;
}

std::vector<WindowNow> X11Workspace::Private::scan() {
    std::vector<WindowNow> out;
    if (!available())
        return out;
    std::vector<xcb_window_t> windows;
    {
        xcb_ewmh_get_windows_reply_t list;
        xcb_generic_error_t *error = nullptr;
        if (xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, screen), &list, &error)) {
            windows.assign(list.windows, list.windows + list.windows_len);
            xcb_ewmh_get_windows_reply_wipe(&list);
        }
        std::free(error);
    }

    // Send every request first and collect the replies afterwards: one round
    // trip for the lot instead of one per window.
    std::vector<StaticCookies> fresh;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    for (xcb_window_t w : windows) {
        if (facts.contains(w))
            continue;
        xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, &mask);
        fresh.push_back(askStatic(w));
    }
    std::vector<StateCookies> states;
    states.reserve(windows.size());
    for (xcb_window_t w : windows)
        states.push_back({xcb_get_property(c, 0, w, wmState, wmState, 0, 2), xcb_ewmh_get_wm_state(&ewmh, w)});

    QSet<xcb_window_t> vanished;
    for (const StaticCookies &k : fresh) {
        WindowFacts f;
        if (collectStatic(k, f))
            facts.insert(k.window, std::move(f));
        else
            vanished.insert(k.window);
    }

    const quint64 generation = entries->generation();
    sandboxByPid.clear();
    out.reserve(windows.size());
    for (size_t i = 0; i < windows.size(); ++i) {
        const xcb_window_t w = windows[i];
        xcb_generic_error_t *error = nullptr;
        const Owned<xcb_get_property_reply_t> stateReply(xcb_get_property_reply(c, states[i].wmState, &error));
        bool gone = windowGone(std::exchange(error, nullptr));
        bool iconic = false;
        if (stateReply && stateReply->format == 32 && xcb_get_property_value_length(stateReply.get()) >= 4)
            iconic = *static_cast<const uint32_t *>(xcb_get_property_value(stateReply.get())) == IconicState;
        bool skipTaskbar = false;
        xcb_ewmh_get_atoms_reply_t netState;
        if (xcb_ewmh_get_wm_state_reply(&ewmh, states[i].netState, &netState, &error)) {
            for (uint32_t a = 0; a < netState.atoms_len; ++a) {
                iconic = iconic || netState.atoms[a] == ewmh._NET_WM_STATE_HIDDEN;
                skipTaskbar = skipTaskbar || netState.atoms[a] == ewmh._NET_WM_STATE_SKIP_TASKBAR;
            }
            xcb_ewmh_get_atoms_reply_wipe(&netState);
        }
        gone = windowGone(std::exchange(error, nullptr)) || gone;
        const auto it = facts.find(w);
        if (gone || vanished.contains(w) || it == facts.end()) {
            facts.remove(w);
            continue;
        }
        resolve(*it, generation);
        out.push_back({w, it->identifier, it->displayName, it->own, it->ordinaryType && !skipTaskbar, iconic});
    }

    // Forget windows that left the list: if one is mapped again it is read
    // afresh, and a reused window ID never inherits old facts.
    if (facts.size() > qsizetype(out.size())) {
        QSet<xcb_window_t> listed;
        for (const WindowNow &n : out)
            listed.insert(n.window);
        facts.removeIf([&](const auto &entry) { return !listed.contains(entry.key()); });
    }
    // Replies on a connection that broke midway are empty, not facts.
    if (connectionLost())
        return {};
    drainQueued();
    return out;
}

QList<RunningApplication> X11Workspace::Private::group(const std::vector<WindowNow> &windows) {
    struct Tally {
        int ordinary = 0;
        int ordinaryIconic = 0;
        int all = 0;
        int allIconic = 0;
    };
    QList<RunningApplication> apps;
    QHash<QString, qsizetype> position;
    std::vector<Tally> tallies;
    for (const WindowNow &w : windows) {
        auto it = position.constFind(w.identifier);
        if (it == position.constEnd()) {
            RunningApplication app;
            app.identifier = w.identifier;
            app.displayName = w.displayName;
            it = position.insert(w.identifier, apps.size());
            apps.append(app);
            tallies.emplace_back();
        }
        RunningApplication &app = apps[*it];
        Tally &t = tallies[size_t(*it)];
        app.isOwnProcess = app.isOwnProcess || w.own;
        ++t.all;
        t.allIconic += w.iconic ? 1 : 0;
        if (w.ordinary) {
            ++t.ordinary;
            t.ordinaryIconic += w.iconic ? 1 : 0;
        }
    }
    for (qsizetype i = 0; i < apps.size(); ++i) {
        const Tally &t = tallies[size_t(i)];
        apps[i].isRegular = t.ordinary > 0;
        apps[i].isHidden = apps[i].isRegular ? t.ordinaryIconic == t.ordinary : t.allIconic == t.all;
    }
    return apps;
}

void X11Workspace::Private::iconify(xcb_window_t window) {
    // What a taskbar does (ICCCM 4.1.4): the window manager iconifies; the
    // client and its process are left alone.
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = wmChangeState;
    message.data.data32[0] = IconicState;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
}

X11Workspace::X11Workspace(QObject *parent) : X11Workspace(QString(), nullptr, parent) {}

X11Workspace::X11Workspace(const QString &displayName, DesktopEntryIndex *desktopEntries, QObject *parent)
    : WorkspacePort(parent), d(std::make_unique<Private>(this)) {
    qRegisterMetaType<quillmoss::RunningApplication>();
    if (desktopEntries) {
        d->entries = desktopEntries;
    } else {
        d->ownedEntries = std::make_unique<DesktopEntryIndex>(DesktopEntryIndex::applicationDirsFromEnvironment());
        d->entries = d->ownedEntries.get();
    }
    d->connectTo(displayName);
}

X11Workspace::~X11Workspace() {
    d->disconnect();
}

bool X11Workspace::isAvailable() const {
    return d->available();
}

QList<RunningApplication> X11Workspace::runningApplications() {
    return Private::group(d->scan());
}

void X11Workspace::hide(const QString &identifier) {
    if (identifier.isEmpty() || !d->available())
        return;
    bool sent = false;
    for (const WindowNow &w : d->scan()) {
        if (w.identifier == identifier && w.ordinary && !w.iconic && !w.own && d->c) {
            d->iconify(w.window);
            sent = true;
        }
    }
    if (sent && d->c)
        xcb_flush(d->c);
}

QStringList X11Workspace::systemExemptIdentifiers() {
    QStringList ids = commonExemptIdentifiers();
    const QString fileManager =
        d->entries->defaultApplication(QStringLiteral("inode/directory"), DesktopEntryIndex::configDirsFromEnvironment(),
                                       DesktopEntryIndex::currentDesktopsFromEnvironment());
    if (!fileManager.isEmpty() && !ids.contains(fileManager))
        ids.prepend(fileManager);
    return ids;
}

void X11Workspace::setWatching(bool watching) {
    if (watching == d->watching)
        return;
    d->watching = watching;
    d->lastSeen.clear();
    if (!watching)
        return;
    // What runs now is the caller's to judge; only what appears from here on
    // is reported.
    for (const RunningApplication &app : runningApplications()) {
        if (app.isRegular && !app.identifier.isEmpty())
            d->lastSeen.insert(app.identifier, app.isHidden);
    }
}

bool X11Workspace::isWatching() const {
    return d->watching;
}

} // namespace quillmoss
