#include "update/TarReader.h"

#include "FuzzInput.h"

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "TarReader: %s\n", what);
    std::abort();
}

// Holds the reader to its word: each member's data is exactly its announced size, handed
// over between its start and its end, and nothing arrives outside a member.
class CheckingSink : public TarReader::Sink {
public:
    bool entryStarted(const TarEntry &entry) override
    {
        if (m_open)
            fail("a member started before the last one finished");
        if (entry.size < 0)
            fail("negative size");
        m_open = true;
        m_left = entry.size;
        return true;
    }
    bool entryData(const char *, qsizetype size) override
    {
        if (!m_open || size > m_left)
            fail("data beyond the announced size");
        m_left -= size;
        return true;
    }
    bool entryFinished() override
    {
        if (!m_open || m_left != 0)
            fail("member finished before its data was complete");
        m_open = false;
        return true;
    }

private:
    bool m_open = false;
    qint64 m_left = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    CheckingSink sink;
    TarReader reader(sink);
    bool going = true;
    while (going && !input.atEnd())
        going = reader.feed(input.nextPiece());
    if (reader.atEnd() && !reader.error().isEmpty())
        fail("ended and failed at once");
    return 0;
}
