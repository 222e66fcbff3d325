#include "core/Module.h"

#include "core/App.h"
#include "core/Log.h"
#include "core/Version.h"
#include "live/GraphicsSource.h"

#include <obs-module.h>

namespace corvane {

namespace {
text_lookup *g_lookup = nullptr;
}

bool Module::load(const std::function<AppEnvironment()> &environment)
{
    CORVANE_LOG_INFO("loading plugin %s", CORVANE_PLUGIN_VERSION);
    if (!App::instance())
        App::setInstance(new App(environment()));
    // Source types exist only inside a running libobs; unit tests load without one.
    if (obs_initialized())
        registerGraphicsSource();
    return true;
}

void Module::unload()
{
    delete App::instance();
    App::setInstance(nullptr);
    CORVANE_LOG_INFO("plugin unloaded");
}

void Module::setLocale(obs_module *module, const char *locale)
{
    freeLocale();
    g_lookup = obs_module_load_locale(module, "en-US", locale);
}

void Module::freeLocale()
{
    if (g_lookup)
        text_lookup_destroy(g_lookup);
    g_lookup = nullptr;
}

void Module::setLocaleFileForTests(const char *path)
{
    freeLocale();
    g_lookup = text_lookup_create(path);
}

bool Module::getString(const char *key, const char **out)
{
    return g_lookup && text_lookup_getstr(g_lookup, key, out);
}

const char *Module::text(const char *key)
{
    const char *out = key;
    getString(key, &out);
    return out;
}

} // namespace corvane
