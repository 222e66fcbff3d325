#pragma once

#include <QLatin1StringView>

namespace corvane {

// Error codes of device calls that the plugin itself produces or reacts to. Codes the device
// sends pass through as they are.
struct RpcCode {
    static constexpr QLatin1StringView Disconnected{"disconnected"};
    static constexpr QLatin1StringView Timeout{"timeout"};
    static constexpr QLatin1StringView Busy{"busy"};
    static constexpr QLatin1StringView Unreachable{"unreachable"};
    static constexpr QLatin1StringView Unauthorized{"unauthorized"};
    static constexpr QLatin1StringView InvalidCredentials{"invalid_credentials"};
    static constexpr QLatin1StringView Forbidden{"forbidden"};
    static constexpr QLatin1StringView BadPassword{"bad_password"};
    static constexpr QLatin1StringView NotAvailableHere{"not_available_here"};
};

} // namespace corvane
