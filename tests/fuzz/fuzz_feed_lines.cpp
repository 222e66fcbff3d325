#include "FuzzInput.h"
#include "device/lan/TlsFeed.h"

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "TlsFeed::takeMessages: %s\n", what);
    std::abort();
}

} // namespace

// Feed bytes in pieces as the socket hands them over: whatever the cut, the messages taken
// equal those taken from the whole stream at once, and only an unfinished line stays.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    QByteArray buffer;
    QByteArray whole;
    QList<QJsonObject> pieced;
    int pieces = 0;
    while (!input.atEnd() && pieces++ < 64) {
        const QByteArray piece = input.nextPiece();
        whole += piece;
        buffer += piece;
        pieced += TlsFeed::takeMessages(buffer);
        if (buffer.contains('\n'))
            fail("a finished line stayed in the buffer");
    }
    QByteArray all = whole;
    if (TlsFeed::takeMessages(all) != pieced)
        fail("pieces and the whole stream differ");
    if (all != buffer)
        fail("different rest");
    return 0;
}
