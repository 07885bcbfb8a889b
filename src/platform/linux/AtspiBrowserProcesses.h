#pragma once

#include "platform/BrowserTabPort.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quillmoss::atspi {

// The browser family an executable belongs to, by its file name
// ("chromium", "google-chrome", "chrome", "firefox-esr", ...).
std::optional<BrowserFamily> familyOfExecutable(const QString &fileName);

// The family of a running process of this user, from /proc/<pid>/exe.
std::optional<BrowserFamily> familyOfProcess(qint64 pid);

// Which families have at least one process of this user running, in one pass
// over /proc; `accept` (when set) can rule processes out. Bit i is set for
// family value i.
unsigned runningFamilies(const std::function<bool(qint64 pid)> &accept = {});

// Visits every process of this user that runs a browser executable, with its
// family and executable file name, until `visit` returns false.
void forEachBrowserProcess(const std::function<bool(qint64 pid, BrowserFamily family, const QString &executable)> &visit);

// The profile folders of the running Chromium-family browsers (their
// --user-data-dir, else the default folder of that browser).
QStringList chromeUserDataDirectories(const std::function<bool(qint64 pid)> &accept = {});

} // namespace quillmoss::atspi
