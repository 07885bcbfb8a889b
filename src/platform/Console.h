#pragma once

#include <QString>

namespace quillmoss {

// Diagnostics are plain lines on standard output.
void consoleLine(const QString &line);

} // namespace quillmoss
