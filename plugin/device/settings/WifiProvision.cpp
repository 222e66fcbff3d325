#include "device/settings/WifiProvision.h"

namespace corvane {

WifiProvision WifiProvision::fromStatus(const QJsonObject &status)
{
    const QJsonObject provision = status.value(QLatin1String("wifi_provision")).toObject();
    const QString state = provision.value(QLatin1String("state")).toString();
    WifiProvision result;
    result.state = state == QLatin1String("ok") ? Joined : state == QLatin1String("reverted") ? Reverted : Pending;
    result.detail = provision.value(QLatin1String("detail")).toString();
    result.stationIp = status.value(QLatin1String("wifi_sta_ip")).toString();
    result.elapsedSeconds = qint64(provision.value(QLatin1String("elapsed_ms")).toDouble()) / 1000;
    return result;
}

QString WifiProvision::outcomeText(const QString &ssid) const
{
    if (state == Joined)
        return QStringLiteral("Joined %1%2.").arg(ssid, stationIp.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(stationIp));
    return QStringLiteral("The device could not join %1%2. Check the password and try again.")
        .arg(ssid, detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
}

QString WifiProvision::progressText(const QString &ssid) const
{
    return QStringLiteral("Checking that the device can join %1\u2026 (%2 s)").arg(ssid).arg(elapsedSeconds);
}

QString WifiProvision::stillJoiningText(const QString &ssid)
{
    return QStringLiteral("The device is still working on joining %1. Check back in a minute.").arg(ssid);
}

} // namespace corvane
