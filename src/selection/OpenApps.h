#pragma once

#include "platform/WorkspacePort.h"

#include <QStringList>

namespace quillmoss {

// "Add All Open Apps": appends every ordinary running application once,
// after the entries already present, never this app, the file manager or the
// login window, nor background agents. Nothing is removed.
QStringList withAllOpenApps(QStringList allowed, const QList<RunningApplication> &running);

} // namespace quillmoss
