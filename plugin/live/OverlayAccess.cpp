#include "live/OverlayAccess.h"

namespace corvane {

namespace {

bool isThisServer(const QByteArray &hostAndPort, quint16 port)
{
    const QByteArray value = hostAndPort.trimmed().toLower();
    const QByteArray suffix = ':' + QByteArray::number(port);
    return value == "127.0.0.1" + suffix || value == "localhost" + suffix;
}

} // namespace

bool OverlayAccess::isOriginAllowed(const QByteArray &origin, bool present, quint16 port)
{
    if (!present)
        return true;
    const QByteArray value = origin.trimmed();
    constexpr char scheme[] = "http://";
    if (!value.toLower().startsWith(scheme))
        return false;
    return isThisServer(value.mid(qsizetype(sizeof scheme) - 1), port);
}

bool OverlayAccess::isHostAllowed(const QByteArray &host, bool present, quint16 port)
{
    return !present || isThisServer(host, port);
}

} // namespace corvane
