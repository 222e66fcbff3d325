#pragma once

#include "base/LanRoute.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace corvane {

// How one followed device is reached, beside the dock's main device: one entry of the
// settings' "followed_devices" list. Each kind keeps only the members it needs.
struct FollowedRoute {
    enum Kind { Cloud, Lan, Usb, Ble };

    QString deviceId;
    Kind kind = Cloud;
    QString name = QString(); // for display; empty: the device id
    LanRoute lan = {};        // Lan: host, token, certificate and the feed's port (0: the device's fixed one)
    QString usbPort = QString();    // Usb: the serial port's name
    QString bleAddress = QString(); // Ble: the device's Bluetooth address

    // The entry as stored, or nothing with the reason in `why` (for the log).
    static std::optional<FollowedRoute> fromJson(const QJsonObject &entry, QString *why);
    QJsonObject toJson() const;

    static QString kindName(Kind kind);
    QString label() const { return name.isEmpty() ? deviceId : name; }

    bool operator==(const FollowedRoute &other) const
    {
        return deviceId == other.deviceId && kind == other.kind && name == other.name && lan == other.lan
            && usbPort == other.usbPort && bleAddress == other.bleAddress;
    }
};

} // namespace corvane
