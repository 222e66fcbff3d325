#pragma once

#include <QJsonObject>
#include <QString>

namespace corvane {

// How far a device got with the Wi-Fi network it was asked to join, from its status's
// "wifi_provision" and "wifi_sta_ip", with the sentences the operator sees for it.
struct WifiProvision {
    enum State { Pending, Joined, Reverted };

    State state = Pending;
    QString detail;
    QString stationIp;
    qint64 elapsedSeconds = 0;

    static WifiProvision fromStatus(const QJsonObject &status);

    // The final word on joining `ssid`, once the state is Joined or Reverted.
    QString outcomeText(const QString &ssid) const;
    QString progressText(const QString &ssid) const;
    static QString stillJoiningText(const QString &ssid);
};

} // namespace corvane
