#pragma once

#include "live/DeviceLive.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace corvane {

// How the live servers reach the devices followed beside the main one; App provides it and
// tells the servers when a device is followed or unfollowed, and when the main device may
// have changed. The main device (the empty id) is not among them: each server is given its
// objects directly.
struct DeviceFeeds {
    // The followed devices' ids, in the order followed.
    std::function<QStringList()> ids;
    // A followed device's data, or null when it is not followed.
    std::function<std::shared_ptr<DeviceLive>(const QString &deviceId)> dataOf;
    // What a device is called in a list; the empty id is the main device.
    std::function<QString(const QString &deviceId)> labelOf;
    // The main device's own id: a client or page naming it reads the main device, so that a
    // device made the main one stays where its readers look for it.
    std::function<QString()> mainId;
};

} // namespace corvane
