#include "app/MakeMain.h"

#include "app/App.h"
#include "app/FollowedDevice.h"
#include "app/FollowedDevices.h"
#include "live/SourceManager.h"

#include <optional>

namespace corvane {

namespace {

QString nicknameOf(const App &app, const QString &deviceId)
{
    for (const CloudDevice &device : app.devices()) {
        if (device.deviceId == deviceId)
            return device.nickname;
    }
    return {};
}

// The main device's running route as a followed one; nothing for a wizard's session, which
// ends with the wizard.
std::optional<FollowedRoute> mainRoute(App &app)
{
    const SourceManager *manager = app.sourceManager();
    const QString id = manager->device();
    if (!manager->isRouteInUse() || id.isEmpty())
        return std::nullopt;
    if (manager->mode() == SourceManager::Cloud)
        return FollowedRoute{id, FollowedRoute::Cloud, nicknameOf(app, id)};
    const LanRoute lan = app.settings().lanRoute(id);
    if (manager->mode() != SourceManager::Lan || lan.host.isEmpty() || lan.token.isEmpty())
        return std::nullopt;
    FollowedRoute route{id, FollowedRoute::Lan, lan.name};
    route.lan = lan;
    return route;
}

} // namespace

bool canBeMain(const FollowedRoute &route)
{
    return route.kind == FollowedRoute::Cloud || route.kind == FollowedRoute::Lan;
}

bool makeMain(App &app, const QString &deviceId)
{
    const FollowedDevice *device = app.followed()->device(deviceId);
    if (!device || !canBeMain(device->route()))
        return false;
    const FollowedRoute next = device->route();
    const std::optional<FollowedRoute> former = mainRoute(app);
    SettingsStore &settings = app.settings();
    if (next.kind == FollowedRoute::Lan)
        settings.setLanRoute(deviceId, next.lan);
    settings.setRoute(deviceId, next.kind == FollowedRoute::Lan ? QStringLiteral("lan") : QStringLiteral("cloud"));
    // Unfollows it first: one device, one route.
    app.selectDevice(deviceId);
    if (former)
        app.followDevice(*former);
    return true;
}

} // namespace corvane
