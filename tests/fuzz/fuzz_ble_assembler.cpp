#include "FuzzInput.h"
#include "device/ble/BleAssembler.h"
#include "device/usb/FrameProtocol.h"

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "BleAssembler: %s\n", what);
    std::abort();
}

} // namespace

// Arbitrary chunks: at most one error report per chunk and bounded messages. Then a
// message cut by fragmentForBle at an input-chosen write size must come back whole.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    int errors = 0;
    BleAssembler assembler([&errors](const QString &) { ++errors; });
    int pieces = 0;
    while (!input.atEnd() && pieces++ < 64) {
        const int before = errors;
        const QByteArray chunk = input.nextPiece();
        const QList<QByteArray> messages = assembler.feed(chunk);
        if (errors - before > 1)
            fail("more than one error for one chunk");
        if (messages.size() > 1)
            fail("more than one message for one chunk");
        // The join is not cut to the total, but overshoots by less than one chunk.
        if (!messages.isEmpty() && messages.first().size() > 65535 + chunk.size())
            fail("message far beyond its total");
    }
    const int writeSize = input.nextByte() * 2 - 100;
    const auto sequence = static_cast<quint8>(input.nextByte());
    QByteArray message = "{" + input.rest();
    message.truncate(kMaxBleMessage);
    const QList<QByteArray> chunks = fragmentForBle(message, writeSize, sequence);
    assembler.reset();
    const int errorsBefore = errors;
    QList<QByteArray> out;
    for (const QByteArray &chunk : chunks) {
        if (chunk.size() > kMaxBleChunk)
            fail("chunk above 244 bytes");
        out += assembler.feed(chunk);
    }
    if (out.size() != 1 || out.first() != message || errors != errorsBefore)
        fail("chunked message not joined back");
    return 0;
}
