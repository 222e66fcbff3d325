#include "FuzzInput.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/LiteralFrameDecoder.h"

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "decodeFrames: %s\n", what);
    std::abort();
}

// Random bytes rarely hold a frame with a good checksum, so the input describes a stream
// of raw bytes, valid frames, frames with a bad checksum and bare headers, plus the sizes
// of the reads that deliver it.
QByteArray streamFrom(FuzzInput &input, QList<int> &reads)
{
    QByteArray stream;
    while (!input.atEnd()) {
        const int mode = input.nextByte();
        const QByteArray piece = input.nextPiece().left(kMaxFramePayload);
        reads.append(1 + input.nextByte() * 17);
        switch (mode % 4) {
        case 0:
            stream += piece;
            break;
        case 1:
            stream += encodeFrame(static_cast<quint8>(mode >> 2), piece);
            break;
        case 2: {
            QByteArray frame = encodeFrame(static_cast<quint8>(mode >> 2), piece);
            frame[frame.size() - 1] = static_cast<char>(frame.at(frame.size() - 1) ^ (1 + (mode >> 2)));
            stream += frame;
            break;
        }
        default: // a header claiming more than follows
            stream += encodeFrame(static_cast<quint8>(mode), piece).left(6);
            stream += piece.left(piece.size() / 2);
            break;
        }
    }
    return stream;
}

} // namespace

// Feeds the stream in pieces to decodeFrames and to the step-by-step reference; they must
// agree on every frame and on what stays buffered, and the buffer must stay bounded.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    QList<int> reads;
    const QByteArray stream = streamFrom(input, reads);
    QByteArray buffer;
    QByteArray reference;
    QByteArray reencoded;
    qsizetype found = 0;
    for (qsizetype at = 0, r = 0; at < stream.size(); ++r) {
        const QByteArray piece = stream.mid(at, reads.isEmpty() ? stream.size() : reads[r % reads.size()]);
        at += piece.size();
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
        }
        found += frames.size();
        if (buffer.size() >= kMaxFrameSize)
            fail("buffer holds a whole frame's worth");
    }
    // The frames found, encoded again back to back, decode to the same frames.
    QByteArray again;
    if (decodeFrames(again, reencoded).size() != found || !again.isEmpty())
        fail("re-encoded frames do not decode alike");
    return 0;
}
