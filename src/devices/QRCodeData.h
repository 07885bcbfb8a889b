#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace quillmoss {

// What a linking or invitation code carries: the showing device and what the
// code is for.
//
// JSON: "deviceId", "deviceName", "userName" (left out when absent), "type"
// (strings) and "timestamp" (Unix seconds). Reading requires all but
// "userName"; other members are ignored. Codes do not expire, so the
// timestamp is written but never checked.
struct QRCodeData {
    static inline const QString kLinkType = QStringLiteral("quillmoss");
    static inline const QString kInviteType = QStringLiteral("session_invite");
    static inline const QString kLinkPrefix = QStringLiteral("quillmoss://qr?data=");

    QString deviceId;
    QString deviceName;
    std::optional<QString> userName;
    QString type;
    double timestamp = 0;

    bool operator==(const QRCodeData &) const = default;

    QJsonObject toJson() const;
    QByteArray encode() const;
    // Nothing unless the JSON has the required members with their types; an
    // empty or overlong id or name is refused too.
    static std::optional<QRCodeData> decode(const QByteArray &json);

    // "quillmoss://qr?data=" + the Base64 of the JSON with every character
    // but letters and digits percent-encoded.
    QString linkText() const;
};

// A code's text: a "quillmoss:" link whose first "data" query item holds the
// Base64 payload, or else the payload's bare JSON. Texts longer than
// kMaxQRCodeTextLength are refused before any decoding.
inline constexpr qsizetype kMaxQRCodeTextLength = 8 * 1024;
std::optional<QRCodeData> parseQRCode(const QString &text);

// Every byte that is not an ASCII letter or digit as %XX (upper-case hex).
QByteArray percentEncodeAlphanumericOnly(const QByteArray &bytes);

} // namespace quillmoss
