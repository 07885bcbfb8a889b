#include "PackageManagerUpdater.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace quillmoss {

PackageManagerUpdater::~PackageManagerUpdater() { delete m_dialog; }

void PackageManagerUpdater::checkForUpdates() {
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    m_dialog = new QMessageBox(QMessageBox::Information, QStringLiteral("Check for Updates"),
                               QStringLiteral("quillmoss %1").arg(QCoreApplication::applicationVersion()),
                               QMessageBox::Ok);
    m_dialog->setInformativeText(
        QStringLiteral("quillmoss is updated by your system's package manager together with your other "
                       "programs, for example with Software Updates or \"sudo apt upgrade\"."));
    m_dialog->setObjectName(QStringLiteral("updatesDialog"));
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog->show();
}

} // namespace quillmoss
