#include "WindowTaskbar.h"

#include "platform/Console.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quillmoss {

namespace {

xcb_connection_t *x11Connection() {
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name) {
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return result;
}

std::vector<xcb_atom_t> readStates(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property) {
    std::vector<xcb_atom_t> states;
    xcb_get_property_reply_t *reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        states.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return states;
}

} // namespace

void WindowTaskbar::setWindow(QWindow *window) {
    m_window = window;
    if (m_hidden) apply(true);
}

void WindowTaskbar::setHiddenFromTaskbar(bool hidden) {
    if (!apply(hidden) && hidden && !m_unsupportedReported) {
        consoleLine(QStringLiteral("The taskbar entry cannot be hidden on this desktop"));
        m_unsupportedReported = true;
    }
    m_hidden = hidden;
}

bool WindowTaskbar::apply(bool hidden) {
    xcb_connection_t *c = x11Connection();
    if (!c || !m_window) return false;
    const xcb_atom_t netWmState = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (netWmState == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE) return false;
    const auto window = static_cast<xcb_window_t>(m_window->winId());

    if (m_window->isVisible()) {
        // A managed window's state belongs to the window manager: ask it.
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = netWmState;
        event.data.data32[0] = hidden ? 1 : 0; // _NET_WM_STATE_ADD / _REMOVE
        event.data.data32[1] = skipTaskbar;
        event.data.data32[3] = 1; // from an application
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_send_event(c, 0, screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
    } else {
        // Before mapping the window's own property is read by the manager.
        std::vector<xcb_atom_t> states = readStates(c, window, netWmState);
        std::erase(states, skipTaskbar);
        if (hidden) states.push_back(skipTaskbar);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netWmState, XCB_ATOM_ATOM, 32,
                            uint32_t(states.size()), states.data());
    }
    xcb_flush(c);
    return true;
}

bool WindowTaskbar::windowStateSkipsTaskbar() const {
    xcb_connection_t *c = x11Connection();
    if (!c || !m_window) return false;
    const xcb_atom_t skipTaskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const auto states = readStates(c, static_cast<xcb_window_t>(m_window->winId()), atom(c, "_NET_WM_STATE"));
    return std::find(states.begin(), states.end(), skipTaskbar) != states.end();
}

} // namespace quillmoss
