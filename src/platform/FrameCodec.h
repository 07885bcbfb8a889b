#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace quillmoss {

// Length-prefixed frames on a byte stream: a 4-byte big-endian payload length,
// then the payload. Pure byte handling, so that it can be fuzzed headless.

inline constexpr qsizetype kFrameHeaderBytes = 4;

// The frame for `payload` (at most 4 GiB - 1 bytes; callers cap far lower).
QByteArray encodeFrame(QByteArrayView payload);

// Splits a stream into frames without ever holding more than one frame: the
// caller reads at most `missingBytes()` from its source, hands them to
// `consume()`, and takes the frame once `status()` is FrameReady. A length
// above the limit puts the decoder into TooLong for good; the stream cannot be
// resynchronised and the connection has to go.
class FrameDecoder {
public:
    enum class Status { NeedMore, FrameReady, TooLong };

    explicit FrameDecoder(qsizetype maxPayload) : m_maxPayload(maxPayload) {}

    // Takes bytes up to the end of the current frame (never past it) and
    // returns how many it used: 0 when a frame is waiting or the stream failed.
    qsizetype consume(QByteArrayView bytes);
    Status status() const { return m_status; }
    // Only valid in FrameReady; the decoder then waits for the next header.
    QByteArray takeFrame();
    // Bytes still needed to finish the header or payload in progress (0 while
    // a frame waits to be taken or after a failure).
    qsizetype missingBytes() const;
    // What is held right now (header bytes plus the payload so far).
    qsizetype bufferedBytes() const { return m_header.size() + m_payload.size(); }

    qsizetype maxPayload() const { return m_maxPayload; }
    // Takes effect from the next header on; a frame in progress keeps the
    // limit it was checked against.
    void setMaxPayload(qsizetype bytes) { m_maxPayload = bytes; }

private:
    qsizetype m_maxPayload;
    Status m_status = Status::NeedMore;
    QByteArray m_header;
    QByteArray m_payload;
    qsizetype m_expected = -1; // payload length once the header is complete
};

// The frames the transport exchanges before a connection carries app messages
// (compact JSON objects, see docs/protocol.md).
struct ControlFrame {
    enum class Type { Invite, Accept, Decline };
    enum class Reason { Refused, Duplicate };

    Type type = Type::Invite;
    QString peer;     // invite, accept: the sender's peer key
    QString name;     // invite, accept: the sender's display name
    QString instance; // invite, accept: the sender's run, new at every start
    Reason reason = Reason::Refused; // decline only

    friend bool operator==(const ControlFrame &, const ControlFrame &) = default;
};

// The largest control frame either side sends or reads.
inline constexpr qsizetype kMaxControlFrameBytes = 4096;
// Bounds of the members of a control frame, in UTF-16 code units.
inline constexpr qsizetype kMaxPeerKeyLength = 128;
inline constexpr qsizetype kMaxPeerNameLength = 255;

QByteArray encodeControlFrame(const ControlFrame &frame);
// Absent for anything that is not a well-formed control frame: not a JSON
// object, an unknown "type", a missing, empty or over-long member.
std::optional<ControlFrame> parseControlFrame(QByteArrayView payload);

} // namespace quillmoss
