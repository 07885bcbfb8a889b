// The bytes a peer controls before and after the invitation: the frame stream
// (cut into pieces of a size the input chooses) and every control frame in it.

#include "platform/FrameCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quillmoss;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const qsizetype piece = 1 + data[0] % 64;
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    FrameDecoder decoder(kMaxControlFrameBytes);
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype want = std::min({piece, decoder.missingBytes(), stream.size() - at});
        const qsizetype used = decoder.consume(stream.sliced(at, want));
        if (used != want || decoder.bufferedBytes() > kFrameHeaderBytes + kMaxControlFrameBytes)
            std::abort();
        at += used;
        if (decoder.status() == FrameDecoder::Status::TooLong)
            break;
        if (decoder.status() == FrameDecoder::Status::FrameReady) {
            const QByteArray frame = decoder.takeFrame();
            if (const auto control = parseControlFrame(frame)) {
                // Whatever parses must survive its own encoding unchanged.
                if (parseControlFrame(encodeControlFrame(*control)) != control)
                    std::abort();
            }
        }
    }
    (void)parseControlFrame(stream);
    return 0;
}
