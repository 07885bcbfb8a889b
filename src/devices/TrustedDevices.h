#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace quillmoss {

// Another installation the user linked to this one. Identified by `deviceId`;
// two records are equal when all three fields are.
//
// JSON (storage only): "deviceId" (string), "name" (string), "dateAdded"
// (seconds since 2001-01-01Z). Unknown members are ignored.
struct TrustedDevice {
    QString deviceId;
    QString name;
    QDateTime dateAdded;

    bool operator==(const TrustedDevice &) const = default;

    QJsonObject toJson() const;
    static std::optional<TrustedDevice> fromJson(const QJsonValue &value);
};

using TrustedDeviceList = QList<TrustedDevice>;

QByteArray encodeTrustedDevices(const TrustedDeviceList &devices);
// One bad element makes the whole list unreadable.
std::optional<TrustedDeviceList> decodeTrustedDevices(const QByteArray &json);

// A set of device ids as a JSON array of strings (order not kept).
QByteArray encodeDeviceIdSet(const QSet<QString> &ids);
std::optional<QSet<QString>> decodeDeviceIdSet(const QByteArray &json);

// Device id → the SHA-256 certificate fingerprint first seen for it, stored
// as a JSON object of Base64 texts. Entries that do not decode are dropped.
using CertificatePins = QHash<QString, QByteArray>;
QByteArray encodeCertificatePins(const CertificatePins &pins);
std::optional<CertificatePins> decodeCertificatePins(const QByteArray &json);

} // namespace quillmoss
