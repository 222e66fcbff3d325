#include "HelperProtocol.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace corvane::helper {

namespace {

// Position just after the colon that follows the first quoted occurrence of `key`.
std::optional<std::size_t> valueStart(std::string_view line, std::string_view key)
{
    std::string quoted;
    quoted.reserve(key.size() + 2);
    quoted.append(1, '"').append(key).append(1, '"');
    const std::size_t at = line.find(quoted);
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::size_t colon = line.find(':', at + quoted.size());
    if (colon == std::string_view::npos)
        return std::nullopt;
    return colon + 1;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "6e400001-..." and "{6E400001-...}" name the same UUID.
std::string normalizedUuid(std::string_view uuid)
{
    std::string out;
    for (char c : uuid) {
        if (c != '{' && c != '}')
            out.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
}

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c)
{
    const char *at = c ? std::strchr(kBase64Alphabet, c) : nullptr;
    return at ? int(at - kBase64Alphabet) : -1;
}

} // namespace

CommandLine parseCommandLine(int argc, const char *const *argv)
{
    CommandLine out;
    if (argc < 3)
        return out;
    long long port = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port")
            port = std::atoll(argv[i + 1]);
    }
    // A port beyond 16 bits would be cut down to some other port by the socket call.
    if (port <= 0 || port > 65535)
        return out;
    out.port = int(port);
    out.ok = true;
    return out;
}

std::int64_t fieldInt(std::string_view line, std::string_view key, std::int64_t fallback)
{
    const std::optional<std::size_t> start = valueStart(line, key);
    if (!start)
        return fallback;
    std::size_t i = *start;
    while (i < line.size() && isSpace(line[i]))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '-' || line[i] == '+')) {
        negative = line[i] == '-';
        ++i;
    }
    // Accumulated as a negative number so that the most negative value fits; saturates.
    constexpr std::int64_t kMin = INT64_MIN;
    std::int64_t value = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        const int digit = line[i] - '0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
            continue;
        }
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == kMin ? INT64_MAX : -value;
}

std::string fieldString(std::string_view line, std::string_view key)
{
    const std::optional<std::size_t> start = valueStart(line, key);
    if (!start)
        return {};
    const std::size_t quote = line.find('"', *start);
    if (quote == std::string_view::npos)
        return {};
    std::string out;
    for (std::size_t i = quote + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"')
            break;
        if (c == '\\') {
            if (++i >= line.size())
                break;
            out.push_back(line[i]);
            continue;
        }
        out.push_back(c);
    }
    return out;
}

std::string escapeJson(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string helloLine(std::string_view token)
{
    return "{\"hello\":\"" + escapeJson(token) + "\"}";
}

std::string okLine(std::int64_t reqId, std::string_view resultJson)
{
    return "{\"reqId\":" + std::to_string(reqId) + ",\"ok\":true,\"result\":" + std::string(resultJson) + "}";
}

std::string errorLine(std::int64_t reqId, std::string_view code, std::string_view message)
{
    return "{\"reqId\":" + std::to_string(reqId) + ",\"ok\":false,\"error\":{\"code\":\"" + std::string(code)
        + "\",\"message\":\"" + escapeJson(message) + "\"}}";
}

std::string dataEventLine(std::string_view value)
{
    return "{\"ev\":\"data\",\"b64\":\"" + encodeBase64(value) + "\"}";
}

std::string_view disconnectedEventLine()
{
    return "{\"ev\":\"disconnected\",\"reason\":\"\"}";
}

int clampScanMs(std::int64_t ms)
{
    if (ms < 500)
        return 500;
    if (ms > 30000)
        return 30000;
    return int(ms);
}

int writePayloadForPdu(std::optional<int> maxPduSize)
{
    if (!maxPduSize)
        return 20;
    const int payload = *maxPduSize < 248 ? *maxPduSize - 3 : 244;
    return payload < 21 ? 20 : payload;
}

std::string deviceIdText(std::uint64_t address)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out(12, '0');
    for (int i = 11; i >= 0; --i) {
        out[std::size_t(i)] = digits[address & 0xF];
        address >>= 4;
    }
    return out;
}

std::uint64_t parseDeviceAddress(std::string_view id)
{
    std::size_t i = 0;
    while (i < id.size() && isSpace(id[i]))
        ++i;
    if (i + 1 < id.size() && id[i] == '0' && (id[i + 1] == 'x' || id[i + 1] == 'X') && i + 2 < id.size()
        && hexValue(id[i + 2]) >= 0)
        i += 2;
    std::uint64_t value = 0;
    for (; i < id.size() && hexValue(id[i]) >= 0; ++i)
        value = (value << 4) | std::uint64_t(hexValue(id[i]));
    return value;
}

bool advertisementMatches(std::string_view localName, const std::vector<std::string> &serviceUuids)
{
    const std::string service = normalizedUuid(kServiceUuid);
    for (const std::string &uuid : serviceUuids) {
        if (normalizedUuid(uuid) == service)
            return true;
    }
    return localName.substr(0, 7) == "Corvane";
}

std::string encodeBase64(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto byte = [&bytes](std::size_t at) { return std::uint32_t(static_cast<unsigned char>(bytes[at])); };
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t n = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
        for (int shift : {18, 12, 6, 0})
            out.push_back(kBase64Alphabet[(n >> shift) & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        const std::uint32_t n = (byte(i) << 16) | (rest == 2 ? byte(i + 1) << 8 : 0);
        out.push_back(kBase64Alphabet[(n >> 18) & 63]);
        out.push_back(kBase64Alphabet[(n >> 12) & 63]);
        out.push_back(rest == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

bool decodeBase64(std::string_view text, std::string *bytes)
{
    bytes->clear();
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const std::string_view group = text.substr(i, 4);
        // Only the last group is padded, by one or two '=' at its end.
        std::size_t padding = 0;
        if (i + 4 == text.size() && group[3] == '=')
            padding = group[2] == '=' ? 2 : 1;
        std::uint32_t n = 0;
        for (std::size_t k = 0; k + padding < 4; ++k) {
            const int value = base64Value(group[k]);
            if (value < 0)
                return false;
            n |= std::uint32_t(value) << (18 - 6 * k);
        }
        // Bits beyond the last byte must be zero, so that every byte string has one spelling.
        const std::uint32_t unused = padding == 2 ? 0xFFFF : padding == 1 ? 0xFF : 0;
        if (n & unused)
            return false;
        bytes->push_back(char(n >> 16));
        if (padding < 2)
            bytes->push_back(char((n >> 8) & 0xFF));
        if (padding < 1)
            bytes->push_back(char(n & 0xFF));
    }
    return true;
}

} // namespace corvane::helper
