#include "FuzzInput.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/RpcAssembler.h"

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "RpcAssembler: %s\n", what);
    std::abort();
}

// The payloads of fragmentRpc's frames.
QList<QByteArray> payloadsOf(const QByteArray &message)
{
    QList<QByteArray> payloads;
    QByteArray buffer;
    for (const QByteArray &frame : fragmentRpc(message)) {
        for (const UsbFrame &decoded : decodeFrames(buffer, frame))
            payloads.append(decoded.payload);
    }
    return payloads;
}

} // namespace

// Arbitrary payloads must never yield a message longer than a 16-bit total; after any of
// them, a message fragmented by fragmentRpc must come out whole once a fresh one starts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    RpcAssembler assembler;
    int pieces = 0;
    while (!input.atEnd() && pieces++ < 64) {
        const QByteArray payload = input.nextPiece();
        const QByteArray message = assembler.feed(payload);
        if (message.size() > kMaxRpcMessage)
            fail("message above 65535 bytes");
        if (!message.isEmpty() && assembler.inProgress())
            fail("still assembling after a message");
    }
    // A long message built from the input, repeated to pass the single-frame size.
    QByteArray message = "{" + input.rest();
    while (message.size() <= kMaxFramePayload)
        message += message;
    message.truncate(kMaxRpcMessage);
    assembler.reset();
    const QList<QByteArray> payloads = payloadsOf(message);
    QByteArray joined;
    for (const QByteArray &payload : payloads) {
        if (!joined.isEmpty())
            fail("message before the last fragment");
        joined = assembler.feed(payload);
    }
    if (joined != message)
        fail("fragmented message not joined back");
    return 0;
}
