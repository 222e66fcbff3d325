#pragma once

#include "base/FollowedRoute.h"
#include "base/LanRoute.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace corvane {

// What the operator filled in to follow one more device, before it is checked.
struct FollowRequest {
    FollowedRoute::Kind kind = FollowedRoute::Cloud;
    QString deviceId;
    QString name = QString();
    QString address = QString();    // Lan: host or device number, ":port" for another feed port; Ble: its address
    QString usbPort = QString();    // Usb: the serial port
};

// What the request is checked against.
struct FollowContext {
    QString mainDevice;            // empty while no main route runs
    QList<FollowedRoute> followed; // the devices followed now
    // The local-network route stored for a device (its token comes from device setup).
    std::function<LanRoute(const QString &deviceId)> lanRouteOf;
};

// The route to follow, or the sentence that says what is wrong with the request.
struct FollowCheck {
    std::optional<FollowedRoute> route;
    QString error;
};

FollowCheck checkFollowRequest(const FollowRequest &request, const FollowContext &context);

} // namespace corvane
