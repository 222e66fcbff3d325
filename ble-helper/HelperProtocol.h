#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The helper's side of the JSON-lines protocol with the plugin, as plain string work: the
// helper reads only the few fields it needs and writes its lines by concatenation, so it
// carries no JSON library. Everything here is free of I/O and threads.
namespace corvane::helper {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitNoConnection = 2;
constexpr int kExitUsage = 64;

// The environment variable that carries the hello token. The plugin sets it for the helper
// alone; a command line would show the token to every user of the computer.
inline constexpr const char *kTokenVariable = "CORVANE_BLE_TOKEN";

struct CommandLine {
    bool ok = false; // false: exit with kExitUsage
    int port = 0;
};

// `--port <n>` among the arguments. Too few arguments, or a port that is missing, not
// positive or beyond the TCP range, is not ok. The token is not read here.
CommandLine parseCommandLine(int argc, const char *const *argv);

// The integer after the first occurrence of "key" and the colon after it; `fallback` when
// either is missing, 0 when no digits follow.
std::int64_t fieldInt(std::string_view line, std::string_view key, std::int64_t fallback);
// The string after "key", its colon and the next double quote, with backslash escapes taken
// literally; empty when key, colon or quote are missing.
std::string fieldString(std::string_view line, std::string_view key);
// Backslash before quote and backslash, a space for every control byte, the rest as is.
std::string escapeJson(std::string_view text);

std::string helloLine(std::string_view token);
std::string okLine(std::int64_t reqId, std::string_view resultJson);
std::string errorLine(std::int64_t reqId, std::string_view code, std::string_view message);
std::string dataEventLine(std::string_view value);
std::string_view disconnectedEventLine();

// Scan duration in ms: 500 to 30000.
int clampScanMs(std::int64_t ms);
// Bytes one write may carry for a maximum PDU size; 20 when the size could not be read.
int writePayloadForPdu(std::optional<int> maxPduSize);
// 12 upper-case hexadecimal digits of the 48-bit address.
std::string deviceIdText(std::uint64_t address);
// The address in a device id: hexadecimal after optional white space and "0x", up to the
// first other character; 0 when nothing is readable.
std::uint64_t parseDeviceAddress(std::string_view id);
// Whether an advertisement belongs to a Corvane device: it lists the service, or its name
// starts with "Corvane" (case-sensitive).
bool advertisementMatches(std::string_view localName, const std::vector<std::string> &serviceUuids);

std::string encodeBase64(std::string_view bytes);
// Standard Base64 with padding, exactly as encodeBase64 writes it (unused bits zero); false
// on any other text.
bool decodeBase64(std::string_view text, std::string *bytes);

// The device's GATT profile.
inline constexpr std::string_view kServiceUuid = "6E400001-B5A3-F393-E0A9-E50E24DCCA9E";
inline constexpr std::string_view kWriteUuid = "6E400003-B5A3-F393-E0A9-E50E24DCCA9E";
inline constexpr std::string_view kNotifyUuid = "6E400004-B5A3-F393-E0A9-E50E24DCCA9E";

} // namespace corvane::helper
