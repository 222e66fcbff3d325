#pragma once

#include "live/ScoreState.h"

#include <QString>
#include <QStringList>

struct obs_properties;
struct obs_source;

namespace corvane {

// The Device list of a source's or filter's properties: the main device (the empty id,
// first and the default), then each followed device. A device the settings name that is no
// longer followed stays listed, so that opening the properties does not rebind silently.
class DeviceChoice {
public:
    // Any thread.
    static void addList(obs_properties *props, const char *name, const QString &current);
    // The device `source`'s settings name under `name`; empty without a source.
    static QString current(obs_source *source, const char *name);
    // Any thread: what sources bound to the device show (its live state, or the held one);
    // empty without App or for a device no longer followed.
    static ScoreState shown(const QString &deviceId);
    // Any thread: the fields the bound device has sent, for the hints.
    static QStringList fieldNames(const QString &deviceId);
};

} // namespace corvane
