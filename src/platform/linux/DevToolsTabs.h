#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace quillmoss {

// Front tab of a Chromium-family browser through its DevTools endpoint, for a
// browser started with --remote-debugging-port (it writes the port into
// DevToolsActivePort in its profile folder). Gives the full address, scheme
// included, without the accessibility bus. Only 127.0.0.1 is contacted, at a
// port the browser itself wrote into a folder of this user. Asynchronous, on
// the main thread; every request has a timeout.
class DevToolsTabs : public QObject {
    Q_OBJECT
public:
    // `accept` rules browser processes out (see AtspiBrowserTabs::Options).
    DevToolsTabs(std::function<bool(qint64 pid)> accept, int timeoutMs, QObject *parent = nullptr);

    // Whether a running browser published an endpoint.
    bool hasEndpoint();
    // The address of the most recently active page; nullopt when no endpoint
    // answers.
    void readFront(std::function<void(std::optional<QString> address)> done);
    // Closes the page read last (or the front page). When it is the only
    // page, a blank page is opened first so the browser stays.
    void closeFront(std::function<void(bool closed)> done);

private:
    struct Page {
        QString id;
        QString url;
    };
    std::optional<quint16> endpointPort();
    void request(const QByteArray &verb, quint16 port, const QString &path,
                 std::function<void(std::optional<QByteArray> body)> done);
    void listPages(quint16 port, std::function<void(std::optional<QList<Page>>)> done);
    void closePage(quint16 port, const QString &id, std::function<void(bool)> done);

    std::function<bool(qint64)> m_accept;
    int m_timeoutMs;
    QNetworkAccessManager m_network;
    QString m_lastReadId;
};

} // namespace quillmoss
