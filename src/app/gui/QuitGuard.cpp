#include "QuitGuard.h"

#include "platform/Console.h"
#include "session/FocusManager.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QKeyEvent>
#include <QWindow>

namespace quillmoss {

QuitGuard::QuitGuard(FocusManager &focus, QObject *parent) : QObject(parent), m_focus(focus) {}

QuitGuard::~QuitGuard() { delete m_alert; }

void QuitGuard::watchWindow(QWindow *window) {
    m_window = window;
    // Watched as events rather than with a QShortcut: in a widgets
    // application a shortcut owned by a Qt Quick window never matches.
    window->installEventFilter(this);
}

void QuitGuard::watchSessionManager() {
    connect(qApp, &QGuiApplication::commitDataRequest, this, &QuitGuard::onCommitDataRequest);
}

bool QuitGuard::eventFilter(QObject *watched, QEvent *event) {
    // The close is always taken over: it either ends the program or is refused.
    if (watched == m_window && event->type() == QEvent::Close) {
        event->ignore();
        requestQuit();
        return true;
    }
    if (watched == m_window && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Q && key->modifiers() == Qt::ControlModifier) {
            requestQuit();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool QuitGuard::requestQuit() {
    if (m_focus.isFocusing()) {
        refuse();
        return false;
    }
    emit quitApproved();
    return true;
}

void QuitGuard::onCommitDataRequest(QSessionManager &manager) {
    if (!m_focus.isFocusing()) return;
    // Only a desktop that lets the program interact lets it say no; the running
    // session is kept on disk either way and resumes at the next start.
    if (manager.allowsInteraction()) {
        manager.cancel();
        manager.release();
        refuse();
    } else {
        consoleLine(QStringLiteral("Logging out during a study session; it resumes at the next start"));
    }
}

void QuitGuard::refuse() {
    consoleLine(QStringLiteral("Quit refused: study session active"));
    if (m_alert) {
        m_alert->raise();
        m_alert->activateWindow();
        return;
    }
    // Not exec(): a nested event loop here would run inside signal and logout
    // handlers. The alert is modal and deletes itself when dismissed.
    m_alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("quillmoss"),
                              QStringLiteral("Study Session Active"), QMessageBox::Ok);
    m_alert->setInformativeText(QStringLiteral("You cannot quit quillmoss while a study session is active."));
    m_alert->setObjectName(QStringLiteral("quitGuardAlert"));
    // Wide enough that the sentence does not wrap into a narrow column.
    m_alert->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label, QLabel#qt_msgbox_informativelabel { min-width: 300px; }"));
    m_alert->setAttribute(Qt::WA_DeleteOnClose);
    m_alert->setWindowModality(Qt::ApplicationModal);
    m_alert->winId();
    if (m_window && m_alert->windowHandle()) m_alert->windowHandle()->setTransientParent(m_window);
    m_alert->show();
}

} // namespace quillmoss
