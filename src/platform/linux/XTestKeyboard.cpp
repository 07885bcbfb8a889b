#include "XTestKeyboard.h"

#include <QElapsedTimer>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace quillmoss {

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// A window property with items of `format` bits; null when absent or of
// another format (a window that vanished answers with an error).
Reply<xcb_get_property_reply_t> propertyReply(xcb_connection_t *c, std::uint32_t window, std::uint32_t property,
                                              std::uint32_t type, std::uint8_t format) {
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 4096), &error));
    std::free(error);
    if (!reply || reply->format != format)
        return nullptr;
    return reply;
}

// Reads a property of 32-bit items (windows, cardinals); empty when absent.
std::vector<std::uint32_t> cardinals(xcb_connection_t *c, std::uint32_t window, std::uint32_t property,
                                     std::uint32_t type) {
    const auto reply = propertyReply(c, window, property, type, 32);
    if (!reply)
        return {};
    const auto *items = static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<std::uint32_t>(items, items + count);
}

QString utf8Property(xcb_connection_t *c, std::uint32_t window, std::uint32_t property, std::uint32_t type) {
    const auto reply = propertyReply(c, window, property, type, 8);
    if (!reply)
        return {};
    return QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply.get())),
                             xcb_get_property_value_length(reply.get()));
}

} // namespace

XTestKeyboard::XTestKeyboard(const QByteArray &displayName) {
    int screenNumber = 0;
    m_connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber);
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return;
    m_root = it.data->root;
    const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(m_connection, &xcb_test_id);
    // Without a window manager there is no client list to find the browser in.
    const bool managed = !cardinals(m_connection, m_root, atom("_NET_SUPPORTED"), XCB_ATOM_ATOM).empty();
    m_usable = xtest && xtest->present && managed;
}

XTestKeyboard::~XTestKeyboard() {
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool XTestKeyboard::isDisplayAvailable(const QByteArray &displayName) {
    if (displayName.isEmpty() && qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    return XTestKeyboard(displayName).isUsable();
}

std::uint32_t XTestKeyboard::atom(const char *name) {
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, std::uint16_t(std::strlen(name)), name), &error));
    std::free(error);
    return reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
}

std::optional<std::uint32_t> XTestKeyboard::activeWindow() {
    const auto active = cardinals(m_connection, m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (active.empty() || active.front() == XCB_WINDOW_NONE)
        return std::nullopt;
    return active.front();
}

std::optional<std::uint32_t> XTestKeyboard::findWindow(qint64 pid, const QString &title) {
    if (!m_usable)
        return std::nullopt;
    const std::uint32_t pidAtom = atom("_NET_WM_PID");
    const std::uint32_t nameAtom = atom("_NET_WM_NAME");
    const std::uint32_t utf8Atom = atom("UTF8_STRING");
    const auto active = activeWindow();
    std::optional<std::uint32_t> first, activeMatch;
    for (std::uint32_t window : cardinals(m_connection, m_root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW)) {
        const auto pids = cardinals(m_connection, window, pidAtom, XCB_ATOM_CARDINAL);
        if (pids.empty() || qint64(pids.front()) != pid)
            continue;
        if (!title.isEmpty() && utf8Property(m_connection, window, nameAtom, utf8Atom) == title)
            return window;
        if (active && *active == window)
            activeMatch = window;
        if (!first)
            first = window;
    }
    return activeMatch ? activeMatch : first;
}

bool XTestKeyboard::activate(std::uint32_t window, int timeoutMs) {
    if (!m_usable)
        return false;
    if (activeWindow() == window)
        return true;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 2; // source: a pager-like tool acting for the user
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(m_connection);
    // This runs on the adapter's worker thread, so a short poll is fine.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        if (activeWindow() == window)
            return true;
        QThread::msleep(15);
    }
    return false;
}

std::optional<std::uint8_t> XTestKeyboard::keycodeFor(std::uint32_t keysym) {
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const std::uint8_t minCode = setup->min_keycode;
    const std::uint8_t count = std::uint8_t(setup->max_keycode - minCode + 1);
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, minCode, count), &error));
    std::free(error);
    if (!reply || reply->keysyms_per_keycode == 0)
        return std::nullopt;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int perCode = reply->keysyms_per_keycode;
    // The unshifted column first, so 'w' is typed without Shift.
    for (int column = 0; column < perCode; ++column) {
        for (int i = 0; i < count; ++i) {
            if (syms[i * perCode + column] == keysym)
                return std::uint8_t(minCode + i);
        }
    }
    return std::nullopt;
}

bool XTestKeyboard::sendChord(std::uint32_t modifierKeysym, std::uint32_t keysym) {
    if (!m_usable)
        return false;
    const auto modifier = keycodeFor(modifierKeysym);
    const auto key = keycodeFor(keysym);
    if (!modifier || !key)
        return false;
    const std::uint8_t sequence[4][2] = {{XCB_KEY_PRESS, *modifier},
                                         {XCB_KEY_PRESS, *key},
                                         {XCB_KEY_RELEASE, *key},
                                         {XCB_KEY_RELEASE, *modifier}};
    for (const auto &step : sequence) {
        xcb_void_cookie_t cookie =
            xcb_test_fake_input_checked(m_connection, step[0], step[1], XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
            std::free(error);
            return false;
        }
    }
    return true;
}

} // namespace quillmoss
