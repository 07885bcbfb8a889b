#pragma once

#include <QObject>
#include <QPointer>

#include <QMessageBox>
class QSessionManager;
class QWindow;

namespace quillmoss {

class FocusManager;

// Every way of quitting asks here first: closing the window, Ctrl+Q, the
// tray's "Quit", a termination signal and the desktop's logout. While a study
// session (or a preview) is in force the quit is refused with an alert and
// the session goes on untouched.
class QuitGuard final : public QObject {
    Q_OBJECT
public:
    explicit QuitGuard(FocusManager &focus, QObject *parent = nullptr);
    ~QuitGuard() override;

    // Closing `window` and pressing Ctrl+Q in it become quit requests.
    void watchWindow(QWindow *window);
    // The desktop's logout asks through the session manager.
    void watchSessionManager();

    // True when the quit goes ahead (quitApproved() has been emitted).
    bool requestQuit();
    void onCommitDataRequest(QSessionManager &manager);

    // The "Study Session Active" alert while it is open.
    QMessageBox *alert() const { return m_alert; }

signals:
    void quitApproved();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refuse();

    FocusManager &m_focus;
    QPointer<QWindow> m_window;
    QPointer<QMessageBox> m_alert;
};

} // namespace quillmoss
