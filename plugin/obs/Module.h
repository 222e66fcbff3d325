#pragma once

#include "app/AppEnvironment.h"

#include <functional>

struct obs_module;
struct text_lookup;

namespace corvane {

// Module-wide state and the load/unload sequence behind the OBS exports. Kept apart from
// the exports so that tests can load and unload the plugin without a module file.
class Module {
public:
    // Logs the load and creates App unless one exists; `environment` is asked only then.
    static bool load(const std::function<AppEnvironment()> &environment);
    // Once every module has loaded: offers the scores to obs-websocket's clients.
    static void postLoad();
    // Deletes App and logs the unload.
    static void unload();

    // Locale table of the module: a missing key reads as the key itself.
    static void setLocale(obs_module *module, const char *locale);
    static void freeLocale();
    // Reads the locale table from one file, for hosts that load the plugin without an OBS
    // module of its own (the libobs-level tests).
    static void loadLocaleFile(const char *path);
    static bool getString(const char *key, const char **out);
    static const char *text(const char *key);
};

} // namespace corvane
