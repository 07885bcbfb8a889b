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
                               QStringLiteral("This is quillmoss %1.").arg(QCoreApplication::applicationVersion()),
                               QMessageBox::Ok);
    m_dialog->setInformativeText(
        QStringLiteral("On Linux, quillmoss is updated by your system's package manager together with your "
                       "other programs, for example in Software or with \u201csudo apt upgrade\u201d."));
    m_dialog->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 320px; }"));
    m_dialog->setObjectName(QStringLiteral("updatesDialog"));
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog->show();
}

} // namespace quillmoss
