#include "HelperProtocol.h"
#include "LineBuffer.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace corvane::helper;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "helper request: %s\n", what);
    std::abort();
}

} // namespace

// Arbitrary bytes as received by the helper: split into lines, each read for every field a
// request has. What the helper writes back must read back the same: a text passed through
// escapeJson and then fieldString is the text with control bytes as spaces, so no request
// can make a reply line break or end its string early.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    LineBuffer buffer;
    buffer.append(bytes.data(), bytes.size());
    std::string line;
    std::size_t consumed = 0;
    while (buffer.takeLine(&line)) {
        consumed += line.size() + 1;
        if (line.find('\n') != std::string::npos)
            fail("a line holds a line feed");
        fieldInt(line, "reqId", -1);
        fieldInt(line, "ms", 6000);
        for (const char *key : {"op", "id", "b64"}) {
            const std::string value = fieldString(line, key);
            if (value.size() > line.size())
                fail("a field is longer than its line");
            std::string expected = value;
            for (char &c : expected) {
                if (static_cast<unsigned char>(c) < 0x20)
                    c = ' ';
            }
            const std::string reply = errorLine(fieldInt(line, "reqId", -1), "unknown_op", value);
            if (reply.find('\n') != std::string::npos)
                fail("a reply holds a line feed");
            if (fieldString(reply, "message") != expected)
                fail("escapeJson and fieldString disagree");
        }
        std::string decoded;
        if (decodeBase64(fieldString(line, "b64"), &decoded) && encodeBase64(decoded) != fieldString(line, "b64"))
            fail("Base64 does not round-trip");
        parseDeviceAddress(fieldString(line, "id"));
    }
    if (consumed + buffer.pending() != bytes.size())
        fail("bytes lost between lines");
    return 0;
}
