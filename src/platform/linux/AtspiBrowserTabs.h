#pragma once

#include "platform/BrowserTabPort.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <array>
#include <vector>

namespace quillmoss {

namespace atspi {
class AtspiTabWorker;
}
class DevToolsTabs;

// Reads and closes the front tab of Chromium-family browsers and Firefox
// through the desktop's accessibility bus (AT-SPI2). The bus calls block, so
// they run on a worker thread of this adapter; results come back on the main
// thread. Safari does not exist here: it is never running.
//
// A browser counts as running when a process of this user runs its
// executable (chromium, google-chrome, chrome, firefox, firefox-esr, ...).
//
// Reading takes the text of the address field of the browser's active window
// (else the window that was active last): the field is found by role and
// place (an editable one-line field inside a toolbar), not by its localised
// name. Chromium shows the address without its scheme ("example.com/page").
//
// A Chromium-family browser whose tree cannot be read (accessibility off, or
// not exposed) is read through its DevTools endpoint when it has one (started
// with --remote-debugging-port); its tab is then closed the same way.
//
// Closing presses the close button of the current tab in the tab strip; when
// it is the window's only tab, a new tab is opened first (Ctrl+T typed into
// the activated window through XTEST), so the window and the browser stay.
class AtspiBrowserTabs : public QObject, public BrowserTabPort {
    Q_OBJECT
public:
    struct Options {
        QString sessionBusAddress; // empty: the desktop session bus
        QByteArray displayName;    // empty: $DISPLAY
        int callTimeoutMs = 800;   // each accessibility call
        int readDeadlineMs = 2500; // a read that takes longer yields no address
        int processCacheMs = 500;  // isRunning() rescans /proc at most this often
        // Rules browser processes out of isRunning() (unset: all of this
        // user count); lets a test ignore browsers others run on the machine.
        std::function<bool(qint64 pid)> processFilter;
    };

    explicit AtspiBrowserTabs(QObject *parent = nullptr);
    explicit AtspiBrowserTabs(const Options &options, QObject *parent = nullptr);
    ~AtspiBrowserTabs() override;

    bool isRunning(BrowserFamily family) override;
    void readFrontTabAddress(BrowserFamily family,
                             std::function<void(std::optional<QString> address)> done) override;
    void closeFrontTab(BrowserFamily family) override;

signals:
    // A close request finished; `closed` tells whether the tab went away.
    void closeFinished(quillmoss::BrowserFamily family, bool closed);

private:
    using Callback = std::function<void(std::optional<QString>)>;
    struct PendingRead {
        quint64 id = 0;
        bool active = false;
        bool expired = false; // answered "no address"; the worker has not finished yet
        std::vector<Callback> callbacks;
    };

    void onReadFinished(quint64 requestId, int family, bool found, const QString &address);
    void finishRead(quint64 requestId, int family, const std::optional<QString> &address, bool viaDevTools);
    void expireRead(int family, quint64 requestId);
    void answerLater(Callback done);

    Options m_options;
    QThread m_thread;
    atspi::AtspiTabWorker *m_worker = nullptr;
    quint64 m_nextRequestId = 0;
    std::array<PendingRead, 3> m_reads;
    std::array<bool, 3> m_closing{};
    DevToolsTabs *m_devTools = nullptr;
    // Chrome's last address came from its DevTools endpoint: close it there.
    bool m_chromeReadViaDevTools = false;
    unsigned m_runningFamilies = 0;
    QElapsedTimer m_runningScannedAt;
};

} // namespace quillmoss
