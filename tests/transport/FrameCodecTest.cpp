#include "platform/FrameCodec.h"
#include "platform/PeerTransport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace quillmoss;

namespace {

// Feeds `stream` in pieces of the given sizes (cycled), reading no more than
// the decoder asks for, as the transport does; collects frames until the
// stream ends or fails.
struct Decoded {
    QList<QByteArray> frames;
    bool failed = false;
    qsizetype largestBuffer = 0;
};
Decoded decode(const QByteArray &stream, qsizetype maxPayload, const std::function<qsizetype()> &pieceSize) {
    Decoded out;
    FrameDecoder decoder(maxPayload);
    for (qsizetype at = 0; at < stream.size() && !out.failed;) {
        const qsizetype take = std::min({pieceSize(), decoder.missingBytes(), stream.size() - at});
        const qsizetype used = decoder.consume(QByteArrayView(stream).sliced(at, take));
        EXPECT_EQ(used, take);
        at += used;
        out.largestBuffer = std::max(out.largestBuffer, decoder.bufferedBytes());
        if (decoder.status() == FrameDecoder::Status::FrameReady)
            out.frames.append(decoder.takeFrame());
        out.failed = decoder.status() == FrameDecoder::Status::TooLong;
    }
    return out;
}

TEST(FrameCodec, FramesSurviveEverySplitOfTheStream) {
    const QList<QByteArray> payloads{"{}", QByteArray(), QByteArray(300, 'x'), QByteArray("\x00\x00\x00\x05", 4), "last"};
    QByteArray stream;
    for (const QByteArray &p : payloads)
        stream += encodeFrame(p);
    EXPECT_EQ(stream.left(6), QByteArray("\x00\x00\x00\x02{}", 6)); // big-endian length first
    for (qsizetype piece = 1; piece <= 9; ++piece) {
        const Decoded d = decode(stream, 1000, [piece] { return piece; });
        EXPECT_FALSE(d.failed);
        EXPECT_EQ(d.frames, payloads) << piece;
    }
}

TEST(FrameCodec, OverlongLengthFailsForGoodWithoutReservingIt) {
    FrameDecoder decoder(PeerTransport::kMaxMessageBytes);
    const QByteArray atCap = encodeFrame(QByteArray(PeerTransport::kMaxMessageBytes, 'a'));
    EXPECT_EQ(decoder.consume(atCap), atCap.size());
    EXPECT_EQ(decoder.status(), FrameDecoder::Status::FrameReady);
    EXPECT_EQ(decoder.takeFrame().size(), PeerTransport::kMaxMessageBytes);

    // A header announcing a big frame holds only what has arrived.
    EXPECT_EQ(decoder.consume(QByteArray("\x00\x0f\xff\xff" "ab", 6)), 6);
    EXPECT_EQ(decoder.bufferedBytes(), 6);
    EXPECT_EQ(decoder.missingBytes(), 0xfffff - 2);

    FrameDecoder strict(16);
    EXPECT_EQ(strict.consume(QByteArray("\x00\x00\x00\x11zzzz", 8)), 4);
    EXPECT_EQ(strict.status(), FrameDecoder::Status::TooLong);
    EXPECT_EQ(strict.consume("more"), 0);
    EXPECT_TRUE(strict.takeFrame().isEmpty());
}

TEST(FrameCodec, ControlFramesRoundTripAndRejectMalformedOnes) {
    ControlFrame invite;
    invite.peer = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    invite.name = QStringLiteral("Zoë's laptop");
    invite.instance = QStringLiteral("RUN-1");
    EXPECT_EQ(parseControlFrame(encodeControlFrame(invite)), invite);
    ControlFrame accept = invite;
    accept.type = ControlFrame::Type::Accept;
    EXPECT_EQ(parseControlFrame(encodeControlFrame(accept)), accept);
    ControlFrame decline;
    decline.type = ControlFrame::Type::Decline;
    decline.reason = ControlFrame::Reason::Duplicate;
    EXPECT_EQ(parseControlFrame(encodeControlFrame(decline)), decline);
    EXPECT_EQ(parseControlFrame(R"({"type":"decline","reason":"busy"})")->reason, ControlFrame::Reason::Refused);
    EXPECT_TRUE(parseControlFrame(R"({"type":"invite","peer":"K","name":"","instance":"R","extra":1})"));

    const QByteArray longKey(kMaxPeerKeyLength + 1, 'K');
    for (const QByteArray &bad : {
             QByteArray(), QByteArray("[]"), QByteArray("{\"type\":\"invite\""), QByteArray(R"({"type":"hello"})"),
             QByteArray(R"({"action":"handshake","deviceId":"X"})"),
             QByteArray(R"({"type":"invite","name":"n","instance":"r"})"),
             QByteArray(R"({"type":"invite","peer":"","name":"n","instance":"r"})"),
             QByteArray(R"({"type":"invite","peer":7,"name":"n","instance":"r"})"),
             QByteArray(R"({"type":"accept","peer":"k","name":"n"})"),
             QByteArray(R"({"type":"accept","peer":"k","instance":"r"})"),
             QByteArray(R"({"type":"invite","peer":"a\nb","name":"n","instance":"r"})"),
             R"({"type":"invite","peer":")" + longKey + R"(","name":"n","instance":"r"})",
             R"({"type":"invite","peer":"k","name":")" + QByteArray(kMaxControlFrameBytes, 'n') + R"(","instance":"r"})",
         })
        EXPECT_FALSE(parseControlFrame(bad)) << bad.left(80).toStdString();
}

// A bounded randomized run over the codec and the control-frame parser:
// arbitrary bytes must never crash either, valid streams must come back
// exactly however they are cut, and no decoder may hold more than one frame.
TEST(FrameCodecRandomized, ArbitraryInputIsSafeAndValidInputRoundTrips) {
    QRandomGenerator rng(20260302);
    QElapsedTimer elapsed;
    elapsed.start();
    constexpr qsizetype kCap = 4096;
    int rounds = 0;
    while (elapsed.elapsed() < 8000 && rounds < 200000) {
        ++rounds;
        const auto piece = [&rng] { return qsizetype(rng.bounded(1, 700)); };

        // Garbage: any outcome but a crash or an oversized buffer.
        QByteArray garbage(rng.bounded(0, 3000), Qt::Uninitialized);
        for (char &c : garbage)
            c = char(rng.bounded(256));
        if (rng.bounded(4) == 0 && garbage.size() >= 4)
            garbage[0] = garbage[1] = 0; // plausible lengths reach the payload path more often
        const Decoded g = decode(garbage, kCap, piece);
        ASSERT_LE(g.largestBuffer, kFrameHeaderBytes + kCap);
        for (const QByteArray &frame : g.frames)
            (void)parseControlFrame(frame);
        (void)parseControlFrame(garbage);

        // Valid frames, some of them mutated control frames.
        QList<QByteArray> payloads;
        QByteArray stream;
        for (int i = rng.bounded(1, 8); i > 0; --i) {
            ControlFrame f;
            f.type = ControlFrame::Type(rng.bounded(3));
            f.peer = QString::number(rng.generate64(), 16);
            f.name = QStringLiteral("n%1").arg(rng.bounded(1000));
            f.instance = QStringLiteral("r");
            QByteArray p = rng.bounded(2) ? encodeControlFrame(f) : QByteArray(rng.bounded(0, int(kCap)), 'p');
            if (!p.isEmpty() && rng.bounded(3) == 0)
                p[rng.bounded(int(p.size()))] = char(rng.bounded(256));
            (void)parseControlFrame(p);
            payloads.append(p);
            stream += encodeFrame(p);
        }
        const Decoded v = decode(stream, kCap, piece);
        ASSERT_FALSE(v.failed);
        ASSERT_EQ(v.frames, payloads);
    }
    EXPECT_GT(rounds, 100);
}

} // namespace
