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
    // Logs the load, registers the source types and the dock, and starts the plugin once
    // OBS's front end has finished loading; without a front end (libobs alone, tests) it
    // starts at once. The two functions are asked only when the plugin starts.
    static bool load(const std::function<AppEnvironment()> &environment,
                     const std::function<QString()> &bleHelperPath = {});
    // What need not hold up OBS's start, once per load: creates App unless one exists,
    // hands the helper program's path to the Bluetooth bridge and offers the scores to
    // obs-websocket's clients (once every module has loaded). Runs earlier when OBS needs
    // the dock before it has finished loading.
    static void start();
    static bool isStarted();
    // The dock's content, made when OBS first measures or shows the dock; starts the
    // plugin first.
    static void fillDock();
    // Once every module has loaded: offers the scores to obs-websocket's clients, if the
    // plugin has started.
    static void postLoad();
    // Removes the dock, stops the Bluetooth bridge, deletes App and logs the unload; a
    // start still awaited is dropped.
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
    // True when OBS's front end took the dock (and will tell when it has finished loading).
    static bool addDock();
};

} // namespace corvane
