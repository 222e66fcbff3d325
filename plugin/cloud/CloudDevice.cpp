#include "cloud/CloudDevice.h"

#include <QJsonArray>

namespace corvane {

QString CloudDevice::displayName() const
{
    return nickname.isEmpty() ? deviceId : nickname + QStringLiteral(" (") + deviceId + QLatin1Char(')');
}

QList<CloudDevice> parseDevices(const QJsonObject &data)
{
    QList<CloudDevice> devices;
    const QJsonArray entries = data.value(QLatin1String("devices")).toArray();
    for (const QJsonValue &entry : entries) {
        const QJsonObject o = entry.toObject();
        CloudDevice device{o.value(QLatin1String("device_id")).toString(),
                           o.value(QLatin1String("nickname")).toString(),
                           o.value(QLatin1String("status")).toString(),
                           o.value(QLatin1String("ble_passkey")).toString()};
        if (!device.deviceId.isEmpty())
            devices.append(device);
    }
    return devices;
}

} // namespace corvane
