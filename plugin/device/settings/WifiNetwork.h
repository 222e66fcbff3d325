#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace corvane {

// One network a device's Wi-Fi scan found.
struct WifiNetwork {
    QString ssid;
    int rssi = 0;  // dBm
    QString auth;  // as the device names it; a numeric code becomes its decimal text

    // The networks of a "scanWifi" result: hidden (empty) names dropped, a name seen again
    // dropped (the first occurrence wins), strongest first.
    static QList<WifiNetwork> fromScanResult(const QJsonObject &result);
};

} // namespace corvane
