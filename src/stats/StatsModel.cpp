#include "stats/StatsModel.h"

#include "platform/JsonDates.h"
#include "session/SessionModel.h"

#include <QJsonDocument>

namespace quillmoss {

namespace {

const QString kTotalSecondsFocused = QStringLiteral("totalSecondsFocused");
const QString kSessionsCompleted = QStringLiteral("sessionsCompleted");
const QString kSessionsStarted = QStringLiteral("sessionsStarted");
const QString kDistractionsBlocked = QStringLiteral("distractionsBlocked");
const QString kGroupSessionsJoined = QStringLiteral("groupSessionsJoined");
const QString kDistractionBreakdown = QStringLiteral("distractionBreakdown");

// Absent and null members both mean "not recorded yet".
bool isAbsent(const QJsonValue &v) { return v.isUndefined() || v.isNull(); }

// Reads an optional count member into `out`; false when the member is there
// but is not a count.
bool readCount(const QJsonObject &o, const QString &key, qint64 &out) {
    const QJsonValue v = o.value(key);
    if (isAbsent(v)) return true;
    auto n = countFromJson(v);
    if (!n) return false;
    out = *n;
    return true;
}

template <typename T>
std::optional<T> parseDocument(const QByteArray &json, auto &&fromJson) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) return std::nullopt;
    if (doc.isArray()) return fromJson(QJsonValue(doc.array()));
    if (doc.isObject()) return fromJson(QJsonValue(doc.object()));
    return std::nullopt;
}

} // namespace

std::optional<qint64> countFromJson(const QJsonValue &v) {
    if (!v.isDouble()) return std::nullopt;
    // toInteger() gives the default for fractions and out-of-range numbers.
    const qint64 a = v.toInteger(0);
    if (a == 0 && v.toInteger(1) != 0) return std::nullopt;
    return a;
}

// ---- LifetimeStats ---------------------------------------------------------

QJsonObject LifetimeStats::toJson() const {
    QJsonObject o{{kTotalSecondsFocused, totalSecondsFocused},
                  {kSessionsCompleted, sessionsCompleted},
                  {kSessionsStarted, sessionsStarted},
                  {kDistractionsBlocked, distractionsBlocked},
                  {kGroupSessionsJoined, groupSessionsJoined}};
    if (distractionBreakdown) {
        QJsonObject breakdown;
        for (auto it = distractionBreakdown->begin(); it != distractionBreakdown->end(); ++it)
            breakdown.insert(it.key(), it.value());
        o.insert(kDistractionBreakdown, breakdown);
    }
    return o;
}

std::optional<LifetimeStats> LifetimeStats::fromJson(const QJsonValue &value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    LifetimeStats s;

    const QJsonValue total = o.value(kTotalSecondsFocused);
    if (!isAbsent(total)) {
        if (!total.isDouble()) return std::nullopt;
        s.totalSecondsFocused = total.toDouble();
    }
    if (!readCount(o, kSessionsCompleted, s.sessionsCompleted) || !readCount(o, kSessionsStarted, s.sessionsStarted) ||
        !readCount(o, kDistractionsBlocked, s.distractionsBlocked) ||
        !readCount(o, kGroupSessionsJoined, s.groupSessionsJoined))
        return std::nullopt;

    const QJsonValue breakdown = o.value(kDistractionBreakdown);
    if (!isAbsent(breakdown)) {
        if (!breakdown.isObject()) return std::nullopt;
        DistractionBreakdown map;
        const QJsonObject b = breakdown.toObject();
        for (auto it = b.begin(); it != b.end(); ++it) {
            auto n = countFromJson(it.value());
            if (!n) return std::nullopt;
            map.insert(it.key(), *n);
        }
        s.distractionBreakdown = std::move(map);
    }
    return s;
}

QByteArray LifetimeStats::encode() const { return QJsonDocument(toJson()).toJson(QJsonDocument::Compact); }

std::optional<LifetimeStats> LifetimeStats::decode(const QByteArray &json) {
    return parseDocument<LifetimeStats>(json, &LifetimeStats::fromJson);
}

QVariantMap LifetimeStats::toVariantMap() const { return toJson().toVariantMap(); }

// ---- SessionHistoryItem ----------------------------------------------------

QJsonObject SessionHistoryItem::toJson() const {
    return {{QStringLiteral("id"), uuidText(id)},
            {QStringLiteral("startTime"), toReferenceSeconds(startTime)},
            {QStringLiteral("duration"), duration},
            {QStringLiteral("subject"), subject},
            {QStringLiteral("deviceId"), deviceId}};
}

std::optional<SessionHistoryItem> SessionHistoryItem::fromJson(const QJsonValue &value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    const QJsonValue id = o.value(QLatin1String("id"));
    const QJsonValue start = o.value(QLatin1String("startTime"));
    const QJsonValue duration = o.value(QLatin1String("duration"));
    const QJsonValue subject = o.value(QLatin1String("subject"));
    const QJsonValue deviceId = o.value(QLatin1String("deviceId"));
    if (!id.isString() || !start.isDouble() || !duration.isDouble() || !subject.isString() || !deviceId.isString())
        return std::nullopt;
    auto uuid = uuidFromText(id.toString());
    if (!uuid || !isUsableSeconds(start.toDouble())) return std::nullopt;
    return SessionHistoryItem{*uuid, fromReferenceSeconds(start.toDouble()), duration.toDouble(), subject.toString(),
                              deviceId.toString()};
}

QVariantMap SessionHistoryItem::toVariantMap() const {
    return {{QStringLiteral("id"), uuidText(id)},
            {QStringLiteral("startTime"), startTime},
            {QStringLiteral("duration"), duration},
            {QStringLiteral("subject"), subject},
            {QStringLiteral("deviceId"), deviceId}};
}

QJsonArray historyToJson(const SessionHistory &history) {
    QJsonArray a;
    for (const auto &item : history) a.append(item.toJson());
    return a;
}

std::optional<SessionHistory> historyFromJson(const QJsonValue &value) {
    if (!value.isArray()) return std::nullopt;
    SessionHistory history;
    const QJsonArray a = value.toArray();
    history.reserve(a.size());
    for (const QJsonValue &v : a) {
        auto item = SessionHistoryItem::fromJson(v);
        if (!item) return std::nullopt;
        history.append(std::move(*item));
    }
    return history;
}

QByteArray encodeHistory(const SessionHistory &history) {
    return QJsonDocument(historyToJson(history)).toJson(QJsonDocument::Compact);
}

std::optional<SessionHistory> decodeHistory(const QByteArray &json) {
    return parseDocument<SessionHistory>(json, &historyFromJson);
}

} // namespace quillmoss
