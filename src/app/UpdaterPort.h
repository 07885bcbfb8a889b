#pragma once

#include <QString>

namespace quillmoss {

// "Check for Updates…": how this program learns of a newer version depends on
// how it was installed. A platform with an updater of its own plugs it in
// here; on Linux the package manager does the updating.
class UpdaterPort {
public:
    virtual ~UpdaterPort() = default;
    // A check the user asked for; any answer is shown by the updater itself.
    virtual void checkForUpdates() = 0;
};

} // namespace quillmoss
