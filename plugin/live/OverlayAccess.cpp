#include "live/OverlayAccess.h"

namespace corvane {

namespace {

// `value` is exactly `prefix` followed by this server's host and port, ignoring case and the
// spaces around it (never any inside).
bool namesThisServer(const QByteArray &value, const QByteArray &prefix, quint16 port)
{
    const QByteArray text = value.trimmed().toLower();
    const QByteArray suffix = ':' + QByteArray::number(port);
    return text == prefix + "127.0.0.1" + suffix || text == prefix + "localhost" + suffix;
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

} // namespace corvane
