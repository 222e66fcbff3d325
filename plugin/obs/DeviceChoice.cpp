#include "obs/DeviceChoice.h"

#include "app/App.h"
#include "app/FollowedDevices.h"
#include "obs/Module.h"

#include <obs-module.h>

#include <memory>
#include <utility>

namespace corvane {

namespace {

const char kNotFollowed[] = "%1 (not followed)";
// Bound by id to a device made main since: it reads the main device, as before.
const char kNowMain[] = "%1 (the main device now)";

void addItem(obs_property_t *list, const QString &label, const QString &id)
{
    obs_property_list_add_string(list, label.toUtf8().constData(), id.toUtf8().constData());
}

// The field hints come from the bound device: a new choice builds the properties again.
bool deviceChosen(obs_properties_t *, obs_property_t *, obs_data_t *) { return true; }

} // namespace

void DeviceChoice::addList(obs_properties_t *props, const char *name, const QString &current)
{
    obs_property_t *list = obs_properties_add_list(props, name, Module::text("CorvaneDevice"), OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
    addItem(list, App::mainDeviceLabel(), QString());
    App *app = App::instance();
    bool listed = current.isEmpty();
    // A copy: OBS may ask on any thread while the dock follows or unfollows a device.
    const QList<std::pair<QString, QString>> followed = app ? app->followed()->labels() : QList<std::pair<QString, QString>>();
    for (const auto &[id, label] : followed) {
        addItem(list, label, id);
        listed = listed || id == current;
    }
    if (!listed)
        addItem(list, QString::fromUtf8(app && current == app->mainDeviceId() ? kNowMain : kNotFollowed).arg(current), current);
    obs_property_set_modified_callback(list, deviceChosen);
}

QString DeviceChoice::current(obs_source_t *source, const char *name)
{
    if (!source)
        return {};
    obs_data_t *settings = obs_source_get_settings(source);
    const QString id = QString::fromUtf8(obs_data_get_string(settings, name));
    obs_data_release(settings);
    return id;
}

ScoreState DeviceChoice::shown(const QString &deviceId)
{
    App *app = App::instance();
    if (!app)
        return ScoreState();
    if (deviceId.isEmpty())
        return app->shown().state();
    const std::shared_ptr<ShownScores> shownScores = app->shownScoresOf(deviceId);
    return shownScores ? shownScores->state() : ScoreState();
}

QStringList DeviceChoice::fieldNames(const QString &deviceId)
{
    App *app = App::instance();
    if (!app)
        return {};
    if (deviceId.isEmpty() || deviceId == app->mainDeviceId())
        return app->live().fieldNames();
    // Held while read: the device may be unfollowed meanwhile on the user-interface thread.
    const std::shared_ptr<DeviceLive> data = app->followed()->dataOf(deviceId);
    return data ? data->live().fieldNames() : QStringList();
}

} // namespace corvane
