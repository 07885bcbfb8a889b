#pragma once

#include "platform/PeerTransport.h"
#include "session/SessionModel.h"
#include "stats/StatsModel.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// The JSON messages linked devices and guests exchange: one object per
// message with a string member "action" naming the kind. Moments are Unix
// seconds; nested records travel as strings holding their own JSON.
namespace quillmoss::peer {

enum class MessageKind {
    Handshake,
    SyncState,
    StartFocus,
    StopFocus,
    EnterLobby,
    SetupStatus,
    UpdateName,
    UnlinkDevice,
    EmergencyUnlock,
    SyncStats,
    Unknown,
};

MessageKind kindOf(const QString &action);
QString actionName(MessageKind kind);

// Bounds on what a peer may send us. Ids are UUID texts in practice, but a
// stored id is taken as it is, so some slack is left.
inline constexpr qsizetype kMaxIdLength = 256;
inline constexpr qsizetype kMaxNameLength = 1024;
inline constexpr qsizetype kMaxSubjectLength = 4096;
inline constexpr qsizetype kMaxMessageBytes = PeerTransport::kMaxMessageBytes;

// The object of a received message, or nothing when it is too large, not a
// JSON object, or has no string "action".
std::optional<QJsonObject> parseMessage(const QByteArray &data);
// Compact JSON text of a message.
QByteArray serialize(const QJsonObject &message);

// A string member of at most `maxLength` characters, else nothing.
std::optional<QString> stringMember(const QJsonObject &message, QLatin1String key, qsizetype maxLength);
std::optional<bool> boolMember(const QJsonObject &message, QLatin1String key);

// The running session as "startFocus" and "syncState" carry it. Each value is
// absent when the message lacks it or it has the wrong type.
struct SessionAnnouncement {
    std::optional<QDateTime> startTime;
    std::optional<QDateTime> endTime;
    std::optional<QString> subject;
    std::optional<SessionPlan> blocks;
};
SessionAnnouncement readSessionAnnouncement(const QJsonObject &message);

// --- builders, one per kind
QJsonObject handshake(const QString &deviceId, const QString &deviceName, const std::optional<QString> &userName,
                      bool isGuest);
// Invalid times are left out, and so are empty blocks.
QJsonObject startFocus(const QDateTime &startTime, const QDateTime &endTime, const QString &subject,
                       const SessionPlan &blocks);
// The session members only when focusing.
QJsonObject syncState(bool isFocusing, const QDateTime &startTime, const QDateTime &endTime, const QString &subject,
                      const SessionPlan &blocks);
QJsonObject stopFocus();
QJsonObject enterLobby(const QString &hostName, const QString &hostId);
QJsonObject setupStatus(bool isSettingUp, const QString &hostName, const QString &hostId);
QJsonObject updateName(const QString &deviceId, const QString &newName);
QJsonObject unlinkDevice(const QString &deviceId);
QJsonObject syncStats(const QString &deviceId, const LifetimeStats &stats, const SessionHistory &history);

} // namespace quillmoss::peer
