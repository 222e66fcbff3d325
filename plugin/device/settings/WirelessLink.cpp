#include "device/settings/WirelessLink.h"

namespace corvane {

WirelessLink WirelessLink::fromEspNowResult(const QJsonObject &result)
{
    const QJsonObject espnow = result.value(QLatin1String("espnow")).toObject();
    WirelessLink link;
    link.present = !espnow.isEmpty();
    const QLatin1String tx("tx");
    link.transmitter = espnow.value(QLatin1String("role")).toString() == tx ||
                       espnow.value(QLatin1String("configured_role")).toString() == tx;
    link.peerMac = espnow.value(QLatin1String("peer_mac")).toString();
    link.keySet = !link.peerMac.isEmpty() && espnow.value(QLatin1String("key_set")).toBool();
    link.startError = espnow.value(QLatin1String("start_error")).toString();
    return link;
}

} // namespace corvane
