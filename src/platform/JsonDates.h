#pragma once

#include <QDateTime>

namespace quillmoss {

// Stored records count seconds from 2001-01-01T00:00:00Z; the moments carried
// directly in peer messages count seconds from the Unix epoch.
inline constexpr double kReferenceDateOffset = 978307200.0; // 2001-01-01 in Unix seconds

inline double toUnixSeconds(const QDateTime &t) { return t.toMSecsSinceEpoch() / 1000.0; }
inline QDateTime fromUnixSeconds(double s) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(s * 1000.0 + (s >= 0 ? 0.5 : -0.5)), Qt::UTC);
}
inline double toReferenceSeconds(const QDateTime &t) { return toUnixSeconds(t) - kReferenceDateOffset; }
inline QDateTime fromReferenceSeconds(double s) { return fromUnixSeconds(s + kReferenceDateOffset); }
// Whether `s` (reference or Unix seconds) is a finite number a QDateTime can hold.
inline bool isUsableSeconds(double s) { return s == s && s > -1e13 && s < 1e13; }

} // namespace quillmoss
