// A tiny X client for the workspace tests and benchmark: maps top-level
// windows with chosen WM_CLASS, window type, states and application IDs, then
// stays until it is killed.
//
//   x11_test_window [--class INSTANCE,CLASS] [--type normal|dialog|dock|utility|splash]
//                   [--skip-taskbar] [--gtk-id ID] [--kde-desktop-file NAME]
//                   [--no-pid-property] [--windows N] [--numbered-classes]
//                   [--report-iconic FILE]
//
// --numbered-classes appends the window's index to both WM_CLASS parts, so
// that N windows make N applications. --report-iconic writes the microseconds
// from mapping the first window to its WM_STATE turning Iconic into FILE.
#include "X11TestAtom.h"

#include <xcb/xcb.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using quillmoss::test::internAtom;

void setText(xcb_connection_t *c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::string &text) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, 8, uint32_t(text.size()), text.data());
}

int64_t monotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace

int main(int argc, char **argv) {
    std::string instance = "testwindow", wmClass = "TestWindow", type, gtkId, kdeFile, reportFile;
    bool skipTaskbar = false, pidProperty = true, numbered = false;
    int count = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--class") {
            const std::string v = next();
            const size_t comma = v.find(',');
            instance = v.substr(0, comma);
            wmClass = comma == std::string::npos ? v : v.substr(comma + 1);
        } else if (arg == "--type") {
            type = next();
        } else if (arg == "--skip-taskbar") {
            skipTaskbar = true;
        } else if (arg == "--gtk-id") {
            gtkId = next();
        } else if (arg == "--kde-desktop-file") {
            kdeFile = next();
        } else if (arg == "--no-pid-property") {
            pidProperty = false;
        } else if (arg == "--windows") {
            count = std::atoi(next().c_str());
        } else if (arg == "--numbered-classes") {
            numbered = true;
        } else if (arg == "--report-iconic") {
            reportFile = next();
        } else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    xcb_screen_t *screen = it.data;

    const xcb_atom_t utf8 = internAtom(c, "UTF8_STRING");
    const xcb_atom_t wmState = internAtom(c, "WM_STATE");
    const xcb_atom_t netWmPid = internAtom(c, "_NET_WM_PID");
    const xcb_atom_t netWmType = internAtom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t netWmState = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t gtkAtom = internAtom(c, "_GTK_APPLICATION_ID");
    const xcb_atom_t kdeAtom = internAtom(c, "_KDE_NET_WM_DESKTOP_FILE");

    char host[256] = {};
    gethostname(host, sizeof host - 1);

    std::vector<xcb_window_t> windows;
    for (int n = 0; n < count; ++n) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, int16_t(20 + 10 * (n % 40)),
                          int16_t(20 + 10 * (n % 40)), 200, 120, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        const std::string suffix = numbered ? std::to_string(n) : std::string();
        const std::string inst = instance + suffix, cls = wmClass + suffix;
        std::string classValue = inst + '\0' + cls + '\0';
        setText(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, classValue);
        setText(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, cls);
        if (pidProperty) {
            const uint32_t pid = uint32_t(getpid());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
            setText(c, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, host);
        }
        if (!type.empty()) {
            const std::string name = "_NET_WM_WINDOW_TYPE_" + [&] {
                std::string upper = type;
                for (char &ch : upper)
                    ch = char(std::toupper(static_cast<unsigned char>(ch)));
                return upper;
            }();
            const xcb_atom_t t = internAtom(c, name.c_str());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmType, XCB_ATOM_ATOM, 32, 1, &t);
        }
        if (skipTaskbar) {
            const xcb_atom_t s = internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmState, XCB_ATOM_ATOM, 32, 1, &s);
        }
        if (!gtkId.empty())
            setText(c, w, gtkAtom, utf8, gtkId);
        if (!kdeFile.empty())
            setText(c, w, kdeAtom, utf8, kdeFile);
        windows.push_back(w);
    }
    xcb_flush(c);

    // Measure from the moment the first window is asked to map.
    const int64_t mappedAt = monotonicMicros();
    for (xcb_window_t w : windows)
        xcb_map_window(c, w);
    xcb_flush(c);

    bool reported = reportFile.empty();
    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        if (!reported && (event->response_type & ~0x80) == XCB_PROPERTY_NOTIFY) {
            const auto *e = reinterpret_cast<xcb_property_notify_event_t *>(event);
            if (e->window == windows.front() && e->atom == wmState) {
                xcb_get_property_reply_t *reply = xcb_get_property_reply(
                    c, xcb_get_property(c, 0, e->window, wmState, wmState, 0, 2), nullptr);
                const int64_t now = monotonicMicros();
                if (reply && xcb_get_property_value_length(reply) >= 4
                    && *static_cast<uint32_t *>(xcb_get_property_value(reply)) == 3) {
                    // Written aside and renamed, so a reader never sees half a line.
                    const std::string partial = reportFile + ".part";
                    if (FILE *out = std::fopen(partial.c_str(), "w")) {
                        std::fprintf(out, "%lld\n", static_cast<long long>(now - mappedAt));
                        std::fclose(out);
                        std::rename(partial.c_str(), reportFile.c_str());
                    }
                    reported = true;
                }
                std::free(reply);
            }
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return 0;
}
