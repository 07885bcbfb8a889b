#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace quillmoss::test {

// The atom of `name`, created if need be (one round trip).
inline xcb_atom_t internAtom(xcb_connection_t *c, const char *name) {
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

} // namespace quillmoss::test
