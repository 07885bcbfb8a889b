#pragma once

#include <QObject>

class QSocketNotifier;

namespace quillmoss {

// SIGTERM, SIGINT and SIGHUP are requests to quit like any other and go
// through the quit guard, instead of ending a study session on the spot.
// The handler only writes to a pipe; the request is raised on the main
// thread. One instance per process.
class QuitSignals final : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

    bool isInstalled() const { return m_notifier != nullptr; }

signals:
    void quitRequested(int signalNumber);

private:
    void drain();
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace quillmoss
