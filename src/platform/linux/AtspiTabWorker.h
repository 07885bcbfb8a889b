#pragma once

#include "AtspiClient.h"
#include "platform/BrowserTabPort.h"

#include <QByteArray>
#include <QHash>
#include <QObject>

#include <memory>

namespace quillmoss::atspi {

// The blocking half of the browser-tab adapter. Lives on its own thread; every
// slot runs there and reports back through a signal, which the adapter
// receives queued on the main thread.
class AtspiTabWorker : public QObject {
    Q_OBJECT
public:
    AtspiTabWorker(const QString &sessionBusAddress, const QByteArray &displayName, int callTimeoutMs);
    ~AtspiTabWorker() override;

public slots:
    void read(quint64 requestId, int family);
    void close(int family);

signals:
    void readFinished(quint64 requestId, int family, bool found, const QString &address);
    void closeFinished(int family, bool closed);

private:
    // The browser window the user sees, as the accessibility tree shows it.
    struct Window {
        Ref frame;
        QString app; // the application's bus name
        qint64 pid = 0;
        bool otherwise = false; // neither active nor used last
        // Not showing (minimised, as enforcement leaves a browser that is
        // not allowed): nothing in it counts as showing either.
        bool unseen = false;
    };
    struct TabStrip {
        QList<Ref> tabs;
        Ref selected;
    };

    QList<Window> windowCandidates(BrowserFamily family);
    // The browser window the user sees and, in `field`, its address field.
    std::optional<Window> browserWindow(BrowserFamily family, Ref *field);
    std::optional<Ref> addressField(const Window &window);
    bool insideToolBar(Ref object, const Ref &frame);
    std::optional<TabStrip> tabStrip(const Window &window);
    std::optional<Ref> closeButton(const Ref &tab);
    bool closeWith(const Window &window, BrowserFamily family);
    bool typeChord(const Window &window, std::uint32_t keysym);
    // Polls the tab strip until `condition` holds; false on timeout.
    template <typename Condition> bool waitForTabs(const Window &window, int timeoutMs, Condition condition);
    bool reachable();

    QString m_sessionBusAddress;
    QByteArray m_displayName;
    int m_callTimeoutMs;
    std::unique_ptr<AtspiClient> m_client;
    bool m_reportedUnreachable = false;
    // Per application bus name: the family (bus names are never reused).
    QHash<QString, std::optional<BrowserFamily>> m_families;
    QHash<QString, qint64> m_pids;
    // Per application: the browser window used last, for when the user is
    // in another application.
    QHash<QString, Ref> m_lastBrowserWindow;
    // Per frame: the address field found last time, checked before reuse.
    QHash<QString, Ref> m_addressFields;
};

} // namespace quillmoss::atspi
