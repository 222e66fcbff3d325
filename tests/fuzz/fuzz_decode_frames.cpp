#include "device/FrameProtocol.h"

#include "../device/LiteralFrameDecoder.h"
#include "FuzzInput.h"

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "decodeFrames: %s\n", what);
    std::abort();
}

} // namespace

// Feeds the input in pieces to decodeFrames and to the step-by-step reference; they must
// agree on every frame and on what stays buffered, and the buffer must stay bounded.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    QByteArray buffer;
    QByteArray reference;
    QByteArray reencoded;
    QList<UsbFrame> all;
    while (!input.atEnd()) {
        const QByteArray piece = input.nextPiece();
        const QList<UsbFrame> frames = decodeFrames(buffer, piece);
        const QList<UsbFrame> expected = literalDecodeFrames(reference, piece);
        if (frames.size() != expected.size() || buffer != reference)
            fail("differs from the reference");
        for (qsizetype i = 0; i < frames.size(); ++i) {
            if (frames[i].type != expected[i].type || frames[i].payload != expected[i].payload)
                fail("frame differs from the reference");
            if (frames[i].payload.size() > kMaxFramePayload)
                fail("oversized payload");
            reencoded += encodeFrame(frames[i].type, frames[i].payload);
            all.append(frames[i]);
        }
        if (buffer.size() >= kMaxFrameSize)
            fail("buffer holds a whole frame's worth");
    }
    // The frames found, encoded again back to back, decode to the same frames.
    QByteArray again;
    const QList<UsbFrame> decoded = decodeFrames(again, reencoded);
    if (decoded.size() != all.size() || !again.isEmpty())
        fail("re-encoded frames do not decode alike");
    return 0;
}
