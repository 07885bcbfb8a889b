#include "devices/PeerMessages.h"

#include "platform/JsonDates.h"

#include <QJsonDocument>

#include <array>
#include <cmath>

namespace quillmoss::peer {

namespace {

constexpr std::array<std::pair<MessageKind, const char *>, 10> kActions{{
    {MessageKind::Handshake, "handshake"},
    {MessageKind::SyncState, "syncState"},
    {MessageKind::StartFocus, "startFocus"},
    {MessageKind::StopFocus, "stopFocus"},
    {MessageKind::EnterLobby, "enterLobby"},
    {MessageKind::SetupStatus, "setupStatus"},
    {MessageKind::UpdateName, "updateName"},
    {MessageKind::UnlinkDevice, "unlinkDevice"},
    {MessageKind::EmergencyUnlock, "emergencyUnlock"},
    {MessageKind::SyncStats, "syncStats"},
}};

QJsonObject message(MessageKind kind) { return {{QStringLiteral("action"), actionName(kind)}}; }

std::optional<QDateTime> momentMember(const QJsonObject &m, QLatin1String key) {
    const QJsonValue v = m.value(key);
    if (!v.isDouble() || !isUsableSeconds(v.toDouble())) return std::nullopt;
    return fromUnixSeconds(v.toDouble());
}

// A plan with a negative or endless block cannot be run; it counts as absent.
std::optional<SessionPlan> planMember(const QJsonObject &m) {
    const QJsonValue v = m.value(QLatin1String("blocks"));
    if (!v.isString()) return std::nullopt;
    auto plan = decodePlan(v.toString().toUtf8());
    if (!plan) return std::nullopt;
    for (const auto &block : *plan)
        if (!std::isfinite(block.duration) || block.duration < 0) return std::nullopt;
    return plan;
}

void addSession(QJsonObject &m, const QDateTime &start, const QDateTime &end, const QString &subject,
                const SessionPlan &blocks) {
    if (start.isValid()) m.insert(QStringLiteral("startTime"), toUnixSeconds(start));
    if (end.isValid()) m.insert(QStringLiteral("endTime"), toUnixSeconds(end));
    m.insert(QStringLiteral("subject"), subject);
    if (!blocks.isEmpty()) m.insert(QStringLiteral("blocks"), QString::fromUtf8(encodePlan(blocks)));
}

} // namespace

MessageKind kindOf(const QString &action) {
    for (const auto &[kind, name] : kActions)
        if (action == QLatin1String(name)) return kind;
    return MessageKind::Unknown;
}

QString actionName(MessageKind kind) {
    for (const auto &[k, name] : kActions)
        if (k == kind) return QString::fromLatin1(name);
    return {};
}

std::optional<QJsonObject> parseMessage(const QByteArray &data) {
    if (data.size() > kMaxMessageBytes) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    QJsonObject object = doc.object();
    if (!object.value(QLatin1String("action")).isString()) return std::nullopt;
    return object;
}

QByteArray serialize(const QJsonObject &m) { return QJsonDocument(m).toJson(QJsonDocument::Compact); }

std::optional<QString> stringMember(const QJsonObject &m, QLatin1String key, qsizetype maxLength) {
    const QJsonValue v = m.value(key);
    if (!v.isString()) return std::nullopt;
    QString s = v.toString();
    if (s.size() > maxLength) return std::nullopt;
    return s;
}

std::optional<bool> boolMember(const QJsonObject &m, QLatin1String key) {
    const QJsonValue v = m.value(key);
    if (!v.isBool()) return std::nullopt;
    return v.toBool();
}

SessionAnnouncement readSessionAnnouncement(const QJsonObject &m) {
    return {momentMember(m, QLatin1String("startTime")), momentMember(m, QLatin1String("endTime")),
            stringMember(m, QLatin1String("subject"), kMaxSubjectLength), planMember(m)};
}

QJsonObject handshake(const QString &deviceId, const QString &deviceName, const std::optional<QString> &userName,
                      bool isGuest) {
    QJsonObject m = message(MessageKind::Handshake);
    m.insert(QStringLiteral("deviceId"), deviceId);
    m.insert(QStringLiteral("deviceName"), deviceName);
    if (userName) m.insert(QStringLiteral("userName"), *userName);
    if (isGuest) m.insert(QStringLiteral("isGuest"), true);
    return m;
}

QJsonObject startFocus(const QDateTime &start, const QDateTime &end, const QString &subject,
                       const SessionPlan &blocks) {
    QJsonObject m = message(MessageKind::StartFocus);
    addSession(m, start, end, subject, blocks);
    return m;
}

QJsonObject syncState(bool isFocusing, const QDateTime &start, const QDateTime &end, const QString &subject,
                      const SessionPlan &blocks) {
    QJsonObject m = message(MessageKind::SyncState);
    m.insert(QStringLiteral("isFocusing"), isFocusing);
    if (isFocusing) addSession(m, start, end, subject, blocks);
    return m;
}

QJsonObject stopFocus() { return message(MessageKind::StopFocus); }

QJsonObject enterLobby(const QString &hostName, const QString &hostId) {
    QJsonObject m = message(MessageKind::EnterLobby);
    m.insert(QStringLiteral("hostName"), hostName);
    m.insert(QStringLiteral("hostId"), hostId);
    return m;
}

QJsonObject setupStatus(bool isSettingUp, const QString &hostName, const QString &hostId) {
    QJsonObject m = message(MessageKind::SetupStatus);
    m.insert(QStringLiteral("isSettingUp"), isSettingUp);
    m.insert(QStringLiteral("hostName"), hostName);
    m.insert(QStringLiteral("hostId"), hostId);
    return m;
}

QJsonObject updateName(const QString &deviceId, const QString &newName) {
    QJsonObject m = message(MessageKind::UpdateName);
    m.insert(QStringLiteral("deviceId"), deviceId);
    m.insert(QStringLiteral("newName"), newName);
    return m;
}

QJsonObject unlinkDevice(const QString &deviceId) {
    QJsonObject m = message(MessageKind::UnlinkDevice);
    m.insert(QStringLiteral("deviceId"), deviceId);
    return m;
}

QJsonObject syncStats(const QString &deviceId, const LifetimeStats &stats, const SessionHistory &history) {
    QJsonObject m = message(MessageKind::SyncStats);
    m.insert(QStringLiteral("deviceId"), deviceId);
    m.insert(QStringLiteral("lifetimeStats"), QString::fromUtf8(stats.encode()));
    m.insert(QStringLiteral("history"), QString::fromUtf8(encodeHistory(history)));
    return m;
}

} // namespace quillmoss::peer
