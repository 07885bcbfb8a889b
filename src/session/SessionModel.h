#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>
#include <QVariantList>

#include <optional>

namespace quillmoss {

enum class BlockType { Study, Break };

// "Study" / "Break": the label shown and the stored form.
QString blockTypeRawValue(BlockType type);
std::optional<BlockType> blockTypeFromRawValue(const QString &raw);

// Upper-case hyphenated UUID text, 36 characters.
QString uuidText(const QUuid &id);
// Parses exactly that canonical form (either case); anything else is nullopt.
std::optional<QUuid> uuidFromText(const QString &text);

struct SessionBlock {
    Q_GADGET
    Q_PROPERTY(QString id READ idText)
    Q_PROPERTY(QString type READ typeText)
    Q_PROPERTY(bool isStudy READ isStudy)
    Q_PROPERTY(double duration MEMBER duration)
public:
    QUuid id;
    BlockType type = BlockType::Study;
    double duration = 0; // seconds

    static SessionBlock make(BlockType type, double seconds) { return {QUuid::createUuid(), type, seconds}; }

    QString idText() const { return uuidText(id); }
    QString typeText() const { return blockTypeRawValue(type); }
    bool isStudy() const { return type == BlockType::Study; }
    bool operator==(const SessionBlock &) const = default;

    QJsonObject toJson() const;
    static std::optional<SessionBlock> fromJson(const QJsonValue &value);
};

using SessionPlan = QList<SessionBlock>;

inline const QString kDefaultSubject = QStringLiteral("Study Session");

// Study 25 min, break 5 min, study 25 min, each with a fresh id.
SessionPlan defaultPlan();

QJsonArray planToJson(const SessionPlan &plan);
// A plan handed over by the screens: each entry a SessionBlock, or a map with
// "type" ("Study"/"Break"), "duration" (finite seconds, not negative) and an
// optional canonical "id" (a fresh one when absent). One bad entry spoils the
// whole list, so a half-read plan never starts.
std::optional<SessionPlan> planFromVariantList(const QVariantList &list);
std::optional<SessionPlan> planFromJson(const QJsonValue &value);
QByteArray encodePlan(const SessionPlan &plan);
std::optional<SessionPlan> decodePlan(const QByteArray &json);

double totalDuration(const SessionPlan &plan);

// Index of the block current at `now` for a plan started at `start`; nullopt
// when the plan is finished (or empty). At an exact boundary the later block
// is current.
std::optional<int> currentBlockIndex(const SessionPlan &plan, const QDateTime &start, const QDateTime &now);

// "25 min", "1 hr", "1 hr 30 min", "2 hr 5 min".
QString durationLabel(double seconds);

// The subject worth showing, or nullopt for blanks and the default subject.
std::optional<QString> customSubject(const QString &subject);

struct CurrentSessionState {
    QDateTime startTime;
    QDateTime endTime;
    QString subject;
    SessionPlan blocks;
    std::optional<QUuid> sessionId;

    QByteArray encode() const;
    static std::optional<CurrentSessionState> decode(const QByteArray &json);
};

struct BuilderState {
    SessionPlan blocks;
    QString subject;

    QByteArray encode() const;
    static std::optional<BuilderState> decode(const QByteArray &json);
};

struct SessionCompletionInfo {
    QString subject;
    double duration = 0;
    bool operator==(const SessionCompletionInfo &) const = default;
};

} // namespace quillmoss

Q_DECLARE_METATYPE(quillmoss::SessionBlock)
