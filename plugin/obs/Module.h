#pragma once

#include "app/AppEnvironment.h"

#include <QString>

#include <functional>

struct obs_module;
struct text_lookup;

namespace corvane {

// Module-wide state and the load/unload sequence behind the OBS exports. Kept apart from
// the exports so that tests can load and unload the plugin without a module file.
class Module {
public:
    // Logs the load, creates App unless one exists (`environment` is asked only then),
    // registers the source types and adds the dock when OBS's front end is there.
    static bool load(const std::function<AppEnvironment()> &environment);
    // Once every module has loaded: offers the scores to obs-websocket's clients.
    static void postLoad();
    // Removes the dock, stops the Bluetooth bridge, deletes App and logs the unload.
    static void unload();
    // Hands the helper program's path (empty when not found) to the Bluetooth bridge and
    // logs what was found.
    static void useBleHelper(const QString &path);

    // Locale table of the module: a missing key reads as the key itself.
    static void setLocale(obs_module *module, const char *locale);
    static void freeLocale();
    // Reads the locale table from one file, for hosts that load the plugin without an OBS
    // module of its own (the libobs-level tests).
    static void loadLocaleFile(const char *path);
    static bool getString(const char *key, const char **out);
    static const char *text(const char *key);

private:
    static void addDock();
};

} // namespace corvane
