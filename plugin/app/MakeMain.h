#pragma once

#include "base/FollowedRoute.h"

#include <QString>

namespace corvane {

class App;

// Only routes the main device can keep across restarts: the cloud and the local network.
bool canBeMain(const FollowedRoute &route);

// Makes a followed device the main one. The two trade places: the former main device, when
// a cloud or network route ran it, is followed in its stead, so no game stops being shown.
// False (nothing changes) for a device not followed, or one that cannot be main.
bool makeMain(App &app, const QString &deviceId);

} // namespace corvane
