#pragma once

#include <QString>

namespace corvane {

// A cloud device reached on the local network: where it is, the token of its live feed and
// the SHA-256 fingerprint of the feed's certificate, the only one the token is sent to
// (empty until the first certificate is seen, as in routes stored before pinning).
struct LanRoute {
    QString host;
    QString token;
    QString name;
    QString certificateSha256 = QString();

    bool operator==(const LanRoute &other) const
    {
        return host == other.host && token == other.token && name == other.name && certificateSha256 == other.certificateSha256;
    }
};

} // namespace corvane
