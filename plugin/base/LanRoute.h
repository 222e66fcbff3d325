#pragma once

#include <QString>

namespace corvane {

// A cloud device reached on the local network: where it is and the token of its live feed.
struct LanRoute {
    QString host;
    QString token;
    QString name;

    bool operator==(const LanRoute &other) const
    {
        return host == other.host && token == other.token && name == other.name;
    }
};

} // namespace corvane
