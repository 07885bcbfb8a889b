#include "AtspiBrowserTabs.h"

#include "AtspiBrowserProcesses.h"
#include "AtspiTabWorker.h"
#include "DevToolsTabs.h"

#include <QTimer>

namespace quillmoss {

AtspiBrowserTabs::AtspiBrowserTabs(QObject *parent) : AtspiBrowserTabs(Options{}, parent) {}

AtspiBrowserTabs::AtspiBrowserTabs(const Options &options, QObject *parent)
    : QObject(parent), m_options(options) {
    m_worker = new atspi::AtspiTabWorker(options.sessionBusAddress, options.displayName, options.callTimeoutMs);
    m_worker->moveToThread(&m_thread);
    connect(m_worker, &atspi::AtspiTabWorker::readFinished, this, &AtspiBrowserTabs::onReadFinished,
            Qt::QueuedConnection);
    connect(
        m_worker, &atspi::AtspiTabWorker::closeFinished, this,
        [this](int family, bool closed) {
            m_closing[std::size_t(family)] = false;
            emit closeFinished(BrowserFamily(family), closed);
        },
        Qt::QueuedConnection);
    m_devTools = new DevToolsTabs(options.processFilter, options.callTimeoutMs, this);
    m_thread.setObjectName(QStringLiteral("quillmoss-browser-tabs"));
    m_thread.start();
}

AtspiBrowserTabs::~AtspiBrowserTabs() {
    // Lets a close that waits for the browser give up early.
    m_thread.requestInterruption();
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

bool AtspiBrowserTabs::isRunning(BrowserFamily family) {
    if (family == BrowserFamily::Safari)
        return false;
    // Called for every browser each second: one /proc scan serves them all.
    if (!m_runningScannedAt.isValid() || m_runningScannedAt.elapsed() >= m_options.processCacheMs) {
        m_runningFamilies = atspi::runningFamilies(m_options.processFilter);
        m_runningScannedAt.start();
    }
    return m_runningFamilies & (1u << unsigned(family));
}

void AtspiBrowserTabs::answerLater(Callback done) {
    if (!done)
        return;
    QMetaObject::invokeMethod(
        this, [done = std::move(done)] { done(std::nullopt); }, Qt::QueuedConnection);
}

void AtspiBrowserTabs::readFrontTabAddress(BrowserFamily family, Callback done) {
    if (family == BrowserFamily::Safari) {
        answerLater(std::move(done));
        return;
    }
    PendingRead &pending = m_reads[std::size_t(family)];
    if (pending.active) {
        if (pending.expired) {
            // The worker is still stuck on an earlier read of this browser;
            // queueing more behind it would only pile up.
            answerLater(std::move(done));
        } else if (done) {
            pending.callbacks.push_back(std::move(done));
        }
        return;
    }
    pending = PendingRead{++m_nextRequestId, true, false, {}};
    if (done)
        pending.callbacks.push_back(std::move(done));
    const quint64 id = pending.id;
    QMetaObject::invokeMethod(m_worker, "read", Qt::QueuedConnection, Q_ARG(quint64, id), Q_ARG(int, int(family)));
    QTimer::singleShot(m_options.readDeadlineMs, this, [this, family, id] { expireRead(int(family), id); });
}

void AtspiBrowserTabs::expireRead(int family, quint64 requestId) {
    PendingRead &pending = m_reads[std::size_t(family)];
    if (!pending.active || pending.id != requestId || pending.expired)
        return;
    pending.expired = true;
    auto callbacks = std::move(pending.callbacks);
    pending.callbacks.clear();
    for (auto &callback : callbacks)
        callback(std::nullopt);
}

void AtspiBrowserTabs::onReadFinished(quint64 requestId, int family, bool found, const QString &address) {
    if (!found && BrowserFamily(family) == BrowserFamily::Chrome && m_devTools->hasEndpoint()) {
        m_devTools->readFront([this, requestId, family](std::optional<QString> viaDevTools) {
            finishRead(requestId, family, viaDevTools, true);
        });
        return;
    }
    finishRead(requestId, family, found ? std::optional<QString>(address) : std::nullopt, false);
}

void AtspiBrowserTabs::finishRead(quint64 requestId, int family, const std::optional<QString> &address,
                                  bool viaDevTools) {
    PendingRead &pending = m_reads[std::size_t(family)];
    if (!pending.active || pending.id != requestId)
        return;
    if (BrowserFamily(family) == BrowserFamily::Chrome && address)
        m_chromeReadViaDevTools = viaDevTools;
    auto callbacks = std::move(pending.callbacks);
    pending = PendingRead{};
    for (auto &callback : callbacks)
        callback(address);
}

void AtspiBrowserTabs::closeFrontTab(BrowserFamily family) {
    if (family == BrowserFamily::Safari || m_closing[std::size_t(family)])
        return;
    m_closing[std::size_t(family)] = true;
    if (family == BrowserFamily::Chrome && m_chromeReadViaDevTools) {
        m_devTools->closeFront([this](bool closed) {
            m_closing[std::size_t(BrowserFamily::Chrome)] = false;
            emit closeFinished(BrowserFamily::Chrome, closed);
        });
        return;
    }
    QMetaObject::invokeMethod(m_worker, "close", Qt::QueuedConnection, Q_ARG(int, int(family)));
}

} // namespace quillmoss
