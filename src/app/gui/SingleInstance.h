#pragma once

#include <QLockFile>
#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;
class QLocalSocket;

namespace quillmoss {

// One running program per user. The first launch takes a lock and listens on
// a local socket; a later launch finds the lock taken, hands its arguments
// (a quillmoss:// link among them) over the socket and exits.
//
// Hand-over: one line of UTF-8 JSON, an array of strings; the running
// instance answers "ok" once it has taken them.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // `directory` holds the lock and the socket: $XDG_RUNTIME_DIR when set
    // (private to the user), else the temporary directory with the user id in
    // the names.
    explicit SingleInstance(QString directory = defaultDirectory(), QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultDirectory();
    QString socketPath() const { return m_socketPath; }
    QString lockPath() const { return m_lockPath; }

    // True when this process is the one instance (it then listens for later
    // launches); false when another instance holds the lock.
    bool claim();
    // Gives `arguments` to the running instance; true once it confirmed them.
    // The instance may still be starting, so this keeps trying until
    // `timeoutMs` has passed.
    bool handOver(const QStringList &arguments, int timeoutMs = 10000);

    static constexpr qint64 kMaxMessageBytes = 64 * 1024;

signals:
    void argumentsReceived(const QStringList &arguments);

private:
    void onNewConnection();
    void readFrom(QLocalSocket *socket);

    QString m_socketPath;
    QString m_lockPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};

} // namespace quillmoss
