#include "device/settings/WifiNetwork.h"

#include <QJsonArray>
#include <QSet>

#include <algorithm>

namespace corvane {

QList<WifiNetwork> WifiNetwork::fromScanResult(const QJsonObject &result)
{
    QList<WifiNetwork> networks;
    QSet<QString> seen;
    const QJsonArray list = result.value(QLatin1String("networks")).toArray();
    for (const QJsonValue &value : list) {
        const QJsonObject entry = value.toObject();
        WifiNetwork network;
        network.ssid = entry.value(QLatin1String("ssid")).toString();
        if (network.ssid.isEmpty() || seen.contains(network.ssid))
            continue;
        seen.insert(network.ssid);
        network.rssi = entry.value(QLatin1String("rssi")).toInt(0);
        const QJsonValue auth = entry.value(QLatin1String("auth"));
        network.auth = auth.isDouble() ? QString::number(auth.toInteger()) : auth.toString();
        networks.append(network);
    }
    std::stable_sort(networks.begin(), networks.end(),
                     [](const WifiNetwork &a, const WifiNetwork &b) { return a.rssi > b.rssi; });
    return networks;
}

} // namespace corvane
