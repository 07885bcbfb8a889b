#pragma once

#include "app/TrayPort.h"

#include <QIcon>
#include <QImage>

namespace quillmoss {

// The tray icon for a status: the logo while idle; while a session runs the
// logo (study) or a cup (break) over a badge with the whole minutes left. A
// tray icon is square with no room for text beside it, so the count is drawn
// into the picture itself.
QImage paintStatusImage(const StatusDisplay &display, int size);
QIcon paintStatusIcon(const StatusDisplay &display);

} // namespace quillmoss
