#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QUuid>
#include <QVariantMap>

#include <optional>

namespace quillmoss {

// Blocked attempts per target: an application ID or the blocked-site entry
// that matched.
using DistractionBreakdown = QMap<QString, qint64>;

// A JSON number that is a whole count fitting 64 bits (2.5 and "2" are not).
std::optional<qint64> countFromJson(const QJsonValue &value);

// One device's lifetime totals.
//
// JSON: number members "totalSecondsFocused", "sessionsCompleted",
// "sessionsStarted", "distractionsBlocked", "groupSessionsJoined" and, only
// when present, the object "distractionBreakdown" (name → integer). Every
// member is optional on reading so that records written before a member
// existed still load; a member of the wrong type spoils the whole record.
struct LifetimeStats {
    double totalSecondsFocused = 0;
    qint64 sessionsCompleted = 0;
    qint64 sessionsStarted = 0;
    qint64 distractionsBlocked = 0;
    qint64 groupSessionsJoined = 0;
    std::optional<DistractionBreakdown> distractionBreakdown;

    bool operator==(const LifetimeStats &) const = default;

    QJsonObject toJson() const;
    static std::optional<LifetimeStats> fromJson(const QJsonValue &value);
    QByteArray encode() const;
    static std::optional<LifetimeStats> decode(const QByteArray &json);

    // The JSON members as a map, for QML.
    QVariantMap toVariantMap() const;
};

// One recorded session. Identified by `id` alone: two items with the same id
// are the same session, whatever else they say.
//
// JSON: "id" (upper-case UUID text), "startTime" (seconds since 2001-01-01Z),
// "duration" (seconds), "subject", "deviceId"; all five required.
struct SessionHistoryItem {
    QUuid id;
    QDateTime startTime;
    double duration = 0;
    QString subject;
    QString deviceId;

    bool operator==(const SessionHistoryItem &other) const { return id == other.id; }

    QJsonObject toJson() const;
    static std::optional<SessionHistoryItem> fromJson(const QJsonValue &value);

    // For QML: startTime as a date, id as text.
    QVariantMap toVariantMap() const;
};

using SessionHistory = QList<SessionHistoryItem>;

QJsonArray historyToJson(const SessionHistory &history);
// One bad element makes the whole list unreadable.
std::optional<SessionHistory> historyFromJson(const QJsonValue &value);
QByteArray encodeHistory(const SessionHistory &history);
std::optional<SessionHistory> decodeHistory(const QByteArray &json);

} // namespace quillmoss
