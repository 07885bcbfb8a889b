#include "devices/QRCodeData.h"

#include "devices/PeerMessages.h"

#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

#include <cmath>

namespace quillmoss {

namespace {

bool isAsciiAlphanumeric(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Standard Base64 as a strict decoder takes it: the standard alphabet only,
// no whitespace, padded to a multiple of four.
std::optional<QByteArray> strictBase64(const QString &text) {
    if (text.isEmpty() || text.size() % 4 != 0) return std::nullopt;
    const qsizetype padStart = text.size() - (text.endsWith(QLatin1String("==")) ? 2 : text.endsWith(u'=') ? 1 : 0);
    for (qsizetype i = 0; i < padStart; ++i) {
        const QChar c = text.at(i);
        if (c.unicode() > 127 || !(isAsciiAlphanumeric(char(c.unicode())) || c == u'+' || c == u'/'))
            return std::nullopt;
    }
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    return decoded.decoded;
}

} // namespace

QJsonObject QRCodeData::toJson() const {
    QJsonObject o{{QStringLiteral("deviceId"), deviceId},
                  {QStringLiteral("deviceName"), deviceName},
                  {QStringLiteral("type"), type},
                  {QStringLiteral("timestamp"), timestamp}};
    if (userName) o.insert(QStringLiteral("userName"), *userName);
    return o;
}

QByteArray QRCodeData::encode() const { return QJsonDocument(toJson()).toJson(QJsonDocument::Compact); }

std::optional<QRCodeData> QRCodeData::decode(const QByteArray &json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    auto id = peer::stringMember(o, QLatin1String("deviceId"), peer::kMaxIdLength);
    auto name = peer::stringMember(o, QLatin1String("deviceName"), peer::kMaxNameLength);
    auto type = peer::stringMember(o, QLatin1String("type"), peer::kMaxNameLength);
    const QJsonValue timestamp = o.value(QLatin1String("timestamp"));
    if (!id || id->isEmpty() || !name || !type || !timestamp.isDouble() || !std::isfinite(timestamp.toDouble()))
        return std::nullopt;
    QRCodeData data{*id, *name, std::nullopt, *type, timestamp.toDouble()};
    const QJsonValue user = o.value(QLatin1String("userName"));
    if (!user.isUndefined() && !user.isNull()) {
        auto userName = peer::stringMember(o, QLatin1String("userName"), peer::kMaxNameLength);
        if (!userName) return std::nullopt;
        data.userName = *userName;
    }
    return data;
}

QByteArray percentEncodeAlphanumericOnly(const QByteArray &bytes) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        if (isAsciiAlphanumeric(c)) {
            out.append(c);
        } else {
            const auto u = static_cast<unsigned char>(c);
            out.append('%').append(hex[u >> 4]).append(hex[u & 0xF]);
        }
    }
    return out;
}

QString QRCodeData::linkText() const {
    return kLinkPrefix + QString::fromLatin1(percentEncodeAlphanumericOnly(encode().toBase64()));
}

std::optional<QRCodeData> parseQRCode(const QString &text) {
    if (text.size() > kMaxQRCodeTextLength) return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && url.scheme() == QLatin1String("quillmoss") && url.hasQuery()) {
        const QUrlQuery query(url);
        if (query.hasQueryItem(QStringLiteral("data"))) {
            const QString value = query.queryItemValue(QStringLiteral("data"), QUrl::FullyDecoded);
            if (!value.isEmpty())
                if (auto bytes = strictBase64(value)) return QRCodeData::decode(*bytes);
        }
    }
    return QRCodeData::decode(text.toUtf8());
}

} // namespace quillmoss
