#include "devices/TrustedDevices.h"

#include "platform/JsonDates.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace quillmoss {

namespace {
std::optional<QJsonDocument> parse(const QByteArray &json) {
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) return std::nullopt;
    return doc;
}
} // namespace

QJsonObject TrustedDevice::toJson() const {
    return {{QStringLiteral("deviceId"), deviceId},
            {QStringLiteral("name"), name},
            {QStringLiteral("dateAdded"), toReferenceSeconds(dateAdded)}};
}

std::optional<TrustedDevice> TrustedDevice::fromJson(const QJsonValue &value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    const QJsonValue id = o.value(QLatin1String("deviceId"));
    const QJsonValue name = o.value(QLatin1String("name"));
    const QJsonValue added = o.value(QLatin1String("dateAdded"));
    if (!id.isString() || !name.isString() || !added.isDouble() || !isUsableSeconds(added.toDouble()))
        return std::nullopt;
    return TrustedDevice{id.toString(), name.toString(), fromReferenceSeconds(added.toDouble())};
}

QByteArray encodeTrustedDevices(const TrustedDeviceList &devices) {
    QJsonArray array;
    for (const auto &d : devices) array.append(d.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<TrustedDeviceList> decodeTrustedDevices(const QByteArray &json) {
    const auto doc = parse(json);
    if (!doc || !doc->isArray()) return std::nullopt;
    TrustedDeviceList devices;
    for (const QJsonValue &v : doc->array()) {
        auto device = TrustedDevice::fromJson(v);
        if (!device) return std::nullopt;
        devices.append(*device);
    }
    return devices;
}

QByteArray encodeDeviceIdSet(const QSet<QString> &ids) {
    QJsonArray array;
    for (const QString &id : ids) array.append(id);
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QSet<QString>> decodeDeviceIdSet(const QByteArray &json) {
    const auto doc = parse(json);
    if (!doc || !doc->isArray()) return std::nullopt;
    QSet<QString> ids;
    for (const QJsonValue &v : doc->array()) {
        if (!v.isString()) return std::nullopt;
        ids.insert(v.toString());
    }
    return ids;
}

QByteArray encodeCertificatePins(const CertificatePins &pins) {
    QJsonObject object;
    for (auto it = pins.cbegin(); it != pins.cend(); ++it)
        object.insert(it.key(), QString::fromLatin1(it.value().toBase64()));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<CertificatePins> decodeCertificatePins(const QByteArray &json) {
    const auto doc = parse(json);
    if (!doc || !doc->isObject()) return std::nullopt;
    CertificatePins pins;
    const QJsonObject object = doc->object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString()) continue;
        const auto decoded =
            QByteArray::fromBase64Encoding(it.value().toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (decoded && !decoded.decoded.isEmpty()) pins.insert(it.key(), decoded.decoded);
    }
    return pins;
}

} // namespace quillmoss
