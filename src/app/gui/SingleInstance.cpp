#include "SingleInstance.h"

#include "platform/Console.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace quillmoss {

namespace {
constexpr int kPeerTimeoutMs = 5000;
}

SingleInstance::SingleInstance(QString directory, QObject *parent) : QObject(parent) {
    const QString base = QDir(directory).filePath(QStringLiteral("quillmoss-%1").arg(::getuid()));
    m_socketPath = base + QStringLiteral(".socket");
    m_lockPath = base + QStringLiteral(".lock");
}

SingleInstance::~SingleInstance() {
    if (m_server) m_server->close(); // removes the socket file
}

QString SingleInstance::defaultDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
    return QDir::tempPath();
}

bool SingleInstance::claim() {
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // Only a dead holder makes the lock stale, never its age: the running
    // instance keeps it for days.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError) return false;
        consoleLine(QStringLiteral("Cannot tell whether quillmoss is already running (lock file %1 unusable)")
                        .arg(m_lockPath));
        return true;
    }
    // A socket file left behind by an instance that crashed would make listen() fail.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        consoleLine(QStringLiteral("Later launches cannot reach this one: ") + m_server->errorString());
        return true;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    return true;
}

void SingleInstance::onNewConnection() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        // A client that never finishes its line is dropped.
        QTimer::singleShot(kPeerTimeoutMs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0) readFrom(socket);
    }
}

void SingleInstance::readFrom(QLocalSocket *socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxMessageBytes) {
            consoleLine(QStringLiteral("Ignored an oversized hand-over from another launch"));
            socket->abort();
        }
        return;
    }
    const QByteArray line = socket->readLine(kMaxMessageBytes + 1).trimmed();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    QStringList arguments;
    bool wellFormed = error.error == QJsonParseError::NoError && document.isArray();
    if (wellFormed) {
        for (const QJsonValue &value : document.array()) {
            if (!value.isString()) {
                wellFormed = false;
                break;
            }
            arguments << value.toString();
        }
    }
    if (!wellFormed) {
        consoleLine(QStringLiteral("Ignored a malformed hand-over from another launch"));
        socket->abort();
        return;
    }
    socket->write("ok\n");
    socket->flush();
    socket->disconnectFromServer();
    emit argumentsReceived(arguments);
}

bool SingleInstance::handOver(const QStringList &arguments, int timeoutMs) {
    const QByteArray message =
        QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) + '\n';
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (!socket.waitForConnected(int(qMin<qint64>(1000, deadline.remainingTime())))) {
            // Not listening yet: the running instance may still be starting up.
            QThread::msleep(100);
            continue;
        }
        socket.write(message);
        if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) continue;
        while (!socket.canReadLine() && socket.waitForReadyRead(int(deadline.remainingTime()))) {
        }
        return socket.canReadLine() && socket.readLine().trimmed() == "ok";
    }
    return false;
}

} // namespace quillmoss
