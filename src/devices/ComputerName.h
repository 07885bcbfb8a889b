#pragma once

#include <QString>

namespace quillmoss {

// The name the user gave this computer: the "pretty host name" of
// /etc/machine-info when set, else the host name, else empty.
QString systemComputerName();

// The same, with the machine-info file and the host name given (for tests).
QString computerNameFrom(const QString &machineInfoPath, const QString &hostName);

// PRETTY_HOSTNAME from the text of a machine-info file (an environment-style
// file with shell quoting), or empty when not set.
QString prettyHostnameFromMachineInfo(const QString &contents);

} // namespace quillmoss
