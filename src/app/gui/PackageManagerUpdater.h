#pragma once

#include "app/UpdaterPort.h"

#include <QPointer>

#include <QMessageBox>

namespace quillmoss {

// On Linux the distribution's package manager updates installed programs, so
// "Check for Updates…" says so, with the version that is running.
class PackageManagerUpdater final : public UpdaterPort {
public:
    ~PackageManagerUpdater() override;
    void checkForUpdates() override;
    QMessageBox *dialog() const { return m_dialog; }

private:
    QPointer<QMessageBox> m_dialog;
};

} // namespace quillmoss
