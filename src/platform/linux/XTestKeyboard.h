#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

struct xcb_connection_t;

namespace quillmoss {

// Brings another application's window to the front (EWMH) and types key
// chords into it through the XTEST extension. Owns its own X connection and
// must be used from one thread only. Every request is checked; a window that
// vanishes half-way only makes the call fail.
class XTestKeyboard {
public:
    // Connects to `displayName` (empty: $DISPLAY).
    explicit XTestKeyboard(const QByteArray &displayName = {});
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard &) = delete;
    XTestKeyboard &operator=(const XTestKeyboard &) = delete;

    // Connected, with XTEST and an EWMH window manager.
    bool isUsable() const { return m_usable; }
    // Whether such a display can be reached now (connects and disconnects).
    static bool isDisplayAvailable(const QByteArray &displayName = {});

    // The managed top-level window of process `pid`, preferring the one whose
    // title is `title`, then the active one.
    std::optional<std::uint32_t> findWindow(qint64 pid, const QString &title);
    // Asks the window manager to activate `window`; true once it is the
    // active window (waits up to `timeoutMs`).
    bool activate(std::uint32_t window, int timeoutMs);
    // Presses modifier + key and releases both. Keysyms are X keysyms
    // (XK_Control_L = 0xffe3, latin letters = their ASCII code).
    bool sendChord(std::uint32_t modifierKeysym, std::uint32_t keysym);

private:
    std::uint32_t atom(const char *name);
    std::optional<std::uint32_t> activeWindow();
    std::optional<std::uint8_t> keycodeFor(std::uint32_t keysym);

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    bool m_usable = false;
};

} // namespace quillmoss
