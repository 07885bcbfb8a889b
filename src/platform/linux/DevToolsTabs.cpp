#include "DevToolsTabs.h"

#include "AtspiBrowserProcesses.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QUrl>

namespace quillmoss {

namespace {
// The endpoint's answers are small; a larger one is not what we asked for.
constexpr qint64 kMaxBodyBytes = 4 << 20;
} // namespace

DevToolsTabs::DevToolsTabs(std::function<bool(qint64)> accept, int timeoutMs, QObject *parent)
    : QObject(parent), m_accept(std::move(accept)), m_timeoutMs(timeoutMs) {
    // A proxy from the environment must never see these requests.
    m_network.setProxy(QNetworkProxy::NoProxy);
}

std::optional<quint16> DevToolsTabs::endpointPort() {
    for (const QString &directory : atspi::chromeUserDataDirectories(m_accept)) {
        QFile file(directory + QStringLiteral("/DevToolsActivePort"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const uint port = file.readLine(16).trimmed().toUInt(&ok);
        if (ok && port > 0 && port <= 65535)
            return quint16(port);
    }
    return std::nullopt;
}

bool DevToolsTabs::hasEndpoint() { return endpointPort().has_value(); }

void DevToolsTabs::request(const QByteArray &verb, quint16 port, const QString &path,
                           std::function<void(std::optional<QByteArray>)> done) {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port);
    url.setPath(path);
    QNetworkRequest request(url);
    request.setTransferTimeout(m_timeoutMs);
    QNetworkReply *reply = m_network.sendCustomRequest(request, verb);
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError || reply->bytesAvailable() > kMaxBodyBytes) {
            done(std::nullopt);
            return;
        }
        done(reply->readAll());
    });
}

void DevToolsTabs::listPages(quint16 port, std::function<void(std::optional<QList<Page>>)> done) {
    request("GET", port, QStringLiteral("/json/list"), [done = std::move(done)](std::optional<QByteArray> body) {
        const QJsonDocument document = body ? QJsonDocument::fromJson(*body) : QJsonDocument();
        if (!document.isArray()) {
            done(std::nullopt);
            return;
        }
        // Listed by most recent activation: the first page is the front tab.
        QList<Page> pages;
        for (const QJsonValue &value : document.array()) {
            const QJsonObject target = value.toObject();
            if (target.value(QLatin1String("type")).toString() == QLatin1String("page"))
                pages.append(Page{target.value(QLatin1String("id")).toString(),
                                  target.value(QLatin1String("url")).toString()});
        }
        done(pages);
    });
}

void DevToolsTabs::readFront(std::function<void(std::optional<QString>)> done) {
    const auto port = endpointPort();
    if (!port) {
        done(std::nullopt);
        return;
    }
    listPages(*port, [this, done = std::move(done)](std::optional<QList<Page>> pages) {
        if (!pages || pages->isEmpty()) {
            done(std::nullopt);
            return;
        }
        m_lastReadId = pages->constFirst().id;
        done(pages->constFirst().url);
    });
}

void DevToolsTabs::closePage(quint16 port, const QString &id, std::function<void(bool)> done) {
    request("GET", port, QStringLiteral("/json/close/") + id,
            [done = std::move(done)](std::optional<QByteArray> body) { done(body.has_value()); });
}

void DevToolsTabs::closeFront(std::function<void(bool)> done) {
    const auto port = endpointPort();
    if (!port) {
        done(false);
        return;
    }
    const quint16 p = *port;
    listPages(p, [this, p, done = std::move(done)](std::optional<QList<Page>> pages) mutable {
        if (!pages || pages->isEmpty()) {
            done(false);
            return;
        }
        QString id = pages->constFirst().id;
        for (const Page &page : *pages) {
            if (page.id == m_lastReadId)
                id = page.id;
        }
        if (pages->size() > 1) {
            closePage(p, id, std::move(done));
            return;
        }
        // The only page: closing it would end the browser.
        request("PUT", p, QStringLiteral("/json/new"),
                [this, p, id, done = std::move(done)](std::optional<QByteArray> created) mutable {
                    if (!created) {
                        done(false);
                        return;
                    }
                    closePage(p, id, std::move(done));
                });
    });
}

} // namespace quillmoss
