#include "session/SessionModel.h"

#include "platform/JsonDates.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

namespace quillmoss {

QString blockTypeRawValue(BlockType type) {
    return type == BlockType::Study ? QStringLiteral("Study") : QStringLiteral("Break");
}

std::optional<BlockType> blockTypeFromRawValue(const QString &raw) {
    if (raw == QLatin1String("Study")) return BlockType::Study;
    if (raw == QLatin1String("Break")) return BlockType::Break;
    return std::nullopt;
}

QString uuidText(const QUuid &id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QUuid> uuidFromText(const QString &text) {
    static const QRegularExpression canonical(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!canonical.match(text).hasMatch()) return std::nullopt;
    return QUuid::fromString(text);
}

QJsonObject SessionBlock::toJson() const {
    return {{QStringLiteral("id"), uuidText(id)},
            {QStringLiteral("type"), blockTypeRawValue(type)},
            {QStringLiteral("duration"), duration}};
}

std::optional<SessionBlock> SessionBlock::fromJson(const QJsonValue &value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    const QJsonValue id = o.value(QLatin1String("id"));
    const QJsonValue type = o.value(QLatin1String("type"));
    const QJsonValue duration = o.value(QLatin1String("duration"));
    if (!id.isString() || !type.isString() || !duration.isDouble()) return std::nullopt;
    auto uuid = uuidFromText(id.toString());
    auto blockType = blockTypeFromRawValue(type.toString());
    if (!uuid || !blockType) return std::nullopt;
    return SessionBlock{*uuid, *blockType, duration.toDouble()};
}

SessionPlan defaultPlan() {
    return {SessionBlock::make(BlockType::Study, 1500), SessionBlock::make(BlockType::Break, 300),
            SessionBlock::make(BlockType::Study, 1500)};
}

QJsonArray planToJson(const SessionPlan &plan) {
    QJsonArray a;
    for (const auto &b : plan) a.append(b.toJson());
    return a;
}

std::optional<SessionPlan> planFromJson(const QJsonValue &value) {
    if (!value.isArray()) return std::nullopt;
    SessionPlan plan;
    for (const QJsonValue &v : value.toArray()) {
        auto block = SessionBlock::fromJson(v);
        if (!block) return std::nullopt; // one bad block spoils the whole list
        plan.append(*block);
    }
    return plan;
}

std::optional<SessionPlan> planFromVariantList(const QVariantList &list) {
    SessionPlan plan;
    plan.reserve(list.size());
    for (const QVariant &entry : list) {
        if (entry.metaType() == QMetaType::fromType<SessionBlock>()) {
            plan.append(entry.value<SessionBlock>());
            continue;
        }
        if (!entry.canConvert<QVariantMap>()) return std::nullopt;
        const QVariantMap map = entry.toMap();
        const auto type = blockTypeFromRawValue(map.value(QStringLiteral("type")).toString());
        bool isNumber = false;
        const double duration = map.value(QStringLiteral("duration")).toDouble(&isNumber);
        if (!type || !isNumber || !std::isfinite(duration) || duration < 0) return std::nullopt;
        QUuid id = QUuid::createUuid();
        const QVariant idValue = map.value(QStringLiteral("id"));
        if (idValue.isValid() && !idValue.toString().isEmpty()) {
            const auto parsed = uuidFromText(idValue.toString());
            if (!parsed) return std::nullopt;
            id = *parsed;
        }
        plan.append(SessionBlock{id, *type, duration});
    }
    return plan;
}

QByteArray encodePlan(const SessionPlan &plan) { return QJsonDocument(planToJson(plan)).toJson(QJsonDocument::Compact); }

std::optional<SessionPlan> decodePlan(const QByteArray &json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) return std::nullopt;
    return planFromJson(doc.array());
}

double totalDuration(const SessionPlan &plan) {
    double total = 0;
    for (const auto &b : plan) total += b.duration;
    return total;
}

std::optional<int> currentBlockIndex(const SessionPlan &plan, const QDateTime &start, const QDateTime &now) {
    const double elapsed = start.msecsTo(now) / 1000.0;
    double sum = 0;
    for (int i = 0; i < plan.size(); ++i) {
        sum += plan[i].duration;
        if (elapsed < sum) return i;
    }
    return std::nullopt;
}

QString durationLabel(double seconds) {
    if (!std::isfinite(seconds)) seconds = 0;
    const double rounded = std::round(seconds / 60.0); // halves away from zero
    const qint64 m = std::max<qint64>(1, static_cast<qint64>(std::clamp(rounded, -1e15, 1e15)));
    if (rounded <= 59) return QStringLiteral("%1 min").arg(m);
    const qint64 h = m / 60;
    const qint64 r = m % 60;
    const QString hours = m < 120 ? QStringLiteral("1 hr") : QStringLiteral("%1 hr").arg(h);
    if (r == 0) return hours;
    return QStringLiteral("%1 %2 min").arg(hours).arg(r);
}

std::optional<QString> customSubject(const QString &subject) {
    const QString trimmed = subject.trimmed();
    if (trimmed.isEmpty() || trimmed == kDefaultSubject) return std::nullopt;
    return trimmed;
}

namespace {
std::optional<QJsonObject> parseObject(const QByteArray &json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return doc.object();
}

std::optional<QDateTime> dateFromJson(const QJsonValue &v) {
    if (!v.isDouble() || !isUsableSeconds(v.toDouble())) return std::nullopt;
    return fromReferenceSeconds(v.toDouble());
}
} // namespace

QByteArray CurrentSessionState::encode() const {
    QJsonObject o{{QStringLiteral("startTime"), toReferenceSeconds(startTime)},
                  {QStringLiteral("endTime"), toReferenceSeconds(endTime)},
                  {QStringLiteral("subject"), subject},
                  {QStringLiteral("blocks"), planToJson(blocks)}};
    if (sessionId) o.insert(QStringLiteral("sessionId"), uuidText(*sessionId));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<CurrentSessionState> CurrentSessionState::decode(const QByteArray &json) {
    auto o = parseObject(json);
    if (!o) return std::nullopt;
    auto start = dateFromJson(o->value(QLatin1String("startTime")));
    auto end = dateFromJson(o->value(QLatin1String("endTime")));
    const QJsonValue subject = o->value(QLatin1String("subject"));
    auto blocks = planFromJson(o->value(QLatin1String("blocks")));
    if (!start || !end || !subject.isString() || !blocks) return std::nullopt;
    CurrentSessionState state{*start, *end, subject.toString(), *blocks, std::nullopt};
    const QJsonValue id = o->value(QLatin1String("sessionId"));
    if (!id.isUndefined() && !id.isNull()) {
        auto uuid = id.isString() ? uuidFromText(id.toString()) : std::nullopt;
        if (!uuid) return std::nullopt;
        state.sessionId = *uuid;
    }
    return state;
}

QByteArray BuilderState::encode() const {
    return QJsonDocument(QJsonObject{{QStringLiteral("blocks"), planToJson(blocks)},
                                     {QStringLiteral("subject"), subject}})
        .toJson(QJsonDocument::Compact);
}

std::optional<BuilderState> BuilderState::decode(const QByteArray &json) {
    auto o = parseObject(json);
    if (!o) return std::nullopt;
    auto blocks = planFromJson(o->value(QLatin1String("blocks")));
    const QJsonValue subject = o->value(QLatin1String("subject"));
    if (!blocks || !subject.isString()) return std::nullopt;
    return BuilderState{*blocks, subject.toString()};
}

} // namespace quillmoss
