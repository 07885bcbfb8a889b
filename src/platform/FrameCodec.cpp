#include "platform/FrameCodec.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <algorithm>

namespace quillmoss {

QByteArray encodeFrame(QByteArrayView payload) {
    QByteArray frame(kFrameHeaderBytes + payload.size(), Qt::Uninitialized);
    qToBigEndian(quint32(payload.size()), frame.data());
    std::copy(payload.begin(), payload.end(), frame.data() + kFrameHeaderBytes);
    return frame;
}

qsizetype FrameDecoder::consume(QByteArrayView bytes) {
    if (m_status != Status::NeedMore)
        return 0;
    qsizetype used = 0;
    if (m_expected < 0) {
        const qsizetype take = std::min(kFrameHeaderBytes - m_header.size(), bytes.size());
        m_header.append(bytes.first(take));
        used = take;
        if (m_header.size() < kFrameHeaderBytes)
            return used;
        const quint32 length = qFromBigEndian<quint32>(m_header.constData());
        if (qint64(length) > qint64(m_maxPayload)) {
            m_status = Status::TooLong;
            return used;
        }
        m_expected = qsizetype(length);
    }
    // The payload grows with what actually arrives: a header that announces a
    // large frame reserves nothing by itself.
    const qsizetype take = std::min(m_expected - m_payload.size(), bytes.size() - used);
    m_payload.append(bytes.sliced(used, take));
    used += take;
    if (m_payload.size() == m_expected)
        m_status = Status::FrameReady;
    return used;
}

QByteArray FrameDecoder::takeFrame() {
    if (m_status != Status::FrameReady)
        return {};
    QByteArray frame = std::move(m_payload);
    m_payload = QByteArray();
    m_header.clear();
    m_expected = -1;
    m_status = Status::NeedMore;
    return frame;
}

qsizetype FrameDecoder::missingBytes() const {
    if (m_status != Status::NeedMore)
        return 0;
    if (m_expected < 0)
        return kFrameHeaderBytes - m_header.size();
    return m_expected - m_payload.size();
}

namespace {

QString typeName(ControlFrame::Type type) {
    switch (type) {
    case ControlFrame::Type::Invite: return QStringLiteral("invite");
    case ControlFrame::Type::Accept: return QStringLiteral("accept");
    case ControlFrame::Type::Decline: return QStringLiteral("decline");
    }
    return {};
}

bool hasControlCharacters(const QString &text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

// A key or instance: non-empty, bounded, printable.
std::optional<QString> token(const QJsonObject &o, const char *member) {
    const QJsonValue v = o.value(QLatin1String(member));
    if (!v.isString())
        return std::nullopt;
    QString text = v.toString();
    if (text.isEmpty() || text.size() > kMaxPeerKeyLength || hasControlCharacters(text))
        return std::nullopt;
    return text;
}

} // namespace

QByteArray encodeControlFrame(const ControlFrame &frame) {
    QJsonObject o{{QStringLiteral("type"), typeName(frame.type)}};
    if (frame.type == ControlFrame::Type::Decline) {
        o.insert(QStringLiteral("reason"),
                 frame.reason == ControlFrame::Reason::Duplicate ? QStringLiteral("duplicate") : QStringLiteral("refused"));
    } else {
        o.insert(QStringLiteral("peer"), frame.peer);
        o.insert(QStringLiteral("name"), frame.name);
        o.insert(QStringLiteral("instance"), frame.instance);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<ControlFrame> parseControlFrame(QByteArrayView payload) {
    if (payload.size() > kMaxControlFrameBytes)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QString type = o.value(QLatin1String("type")).toString();

    ControlFrame frame;
    if (type == QLatin1String("decline")) {
        frame.type = ControlFrame::Type::Decline;
        // Any other or missing reason reads as a plain refusal.
        frame.reason = o.value(QLatin1String("reason")).toString() == QLatin1String("duplicate")
                           ? ControlFrame::Reason::Duplicate
                           : ControlFrame::Reason::Refused;
        return frame;
    }
    if (type == QLatin1String("invite"))
        frame.type = ControlFrame::Type::Invite;
    else if (type == QLatin1String("accept"))
        frame.type = ControlFrame::Type::Accept;
    else
        return std::nullopt;

    const auto peer = token(o, "peer");
    const auto instance = token(o, "instance");
    const QJsonValue name = o.value(QLatin1String("name"));
    if (!peer || !instance || !name.isString() || name.toString().size() > kMaxPeerNameLength)
        return std::nullopt;
    frame.peer = *peer;
    frame.instance = *instance;
    frame.name = name.toString();
    return frame;
}

} // namespace quillmoss
