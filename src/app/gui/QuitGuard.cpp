#include "QuitGuard.h"

#include "platform/Console.h"
#include "session/FocusManager.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QShortcut>
#include <QWindow>

namespace quillmoss {

QuitGuard::QuitGuard(FocusManager &focus, QObject *parent) : QObject(parent), m_focus(focus) {}

QuitGuard::~QuitGuard() { delete m_alert; }

void QuitGuard::watchWindow(QWindow *window) {
    m_window = window;
    window->installEventFilter(this);
    auto *quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), window);
    quit->setContext(Qt::ApplicationShortcut);
    connect(quit, &QShortcut::activated, this, &QuitGuard::requestQuit);
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
    m_alert->setAttribute(Qt::WA_DeleteOnClose);
    m_alert->setWindowModality(Qt::ApplicationModal);
    m_alert->winId();
    if (m_window && m_alert->windowHandle()) m_alert->windowHandle()->setTransientParent(m_window);
    m_alert->show();
}

} // namespace quillmoss
