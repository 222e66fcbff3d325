#include "live/OverlayAccess.h"

namespace corvane {

namespace {

constexpr quint16 kHttpPort = 80;

// `value` is exactly `prefix` followed by this server's host and port, ignoring case and the
// spaces around it (never any inside). Browsers leave out the default port.
bool namesThisServer(const QByteArray &value, const QByteArray &prefix, quint16 port)
{
    const QByteArray text = value.trimmed().toLower();
    const QByteArray suffix = ':' + QByteArray::number(port);
    for (const char *host : {"127.0.0.1", "localhost"}) {
        if (text == prefix + host + suffix || (port == kHttpPort && text == prefix + host))
            return true;
    }
    return false;
}

} // namespace

bool OverlayAccess::isOriginAllowed(const QByteArray &origin, bool present, quint16 port)
{
    return !present || namesThisServer(origin, QByteArrayLiteral("http://"), port);
}

bool OverlayAccess::isHostAllowed(const QByteArray &host, bool present, quint16 port)
{
    return !present || namesThisServer(host, QByteArray(), port);
}

bool OverlayAccess::isFetchSiteAllowed(const QByteArray &site)
{
    return site != "cross-site" && site != "same-site";
}

} // namespace corvane
