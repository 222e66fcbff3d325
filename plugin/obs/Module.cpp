#include "obs/Module.h"

#include "app/App.h"
#include "base/Log.h"
#include "base/Version.h"
#include "device/ble/BleBridge.h"
#include "obs/GraphicsSource.h"
#include "obs/TextSource.h"
#include "obs/WebSocketVendor.h"
#include "ui/Dock.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

#include <QApplication>
#include <QPointer>

namespace corvane {

namespace {

text_lookup *g_lookup = nullptr;
// OBS owns the dock once it is added and deletes it when the dock is removed.
QPointer<Dock> g_dock;
constexpr char kDockId[] = "corvane-dock";

void logToObs(LogLevel level, const char *line)
{
    blog(int(level), "%s", line);
}

} // namespace

bool Module::load(const std::function<AppEnvironment()> &environment)
{
    setLogSink(logToObs);
    CORVANE_LOG_INFO("loading plugin %s", CORVANE_PLUGIN_VERSION);
    App *created = nullptr;
    if (!App::instance()) {
        created = new App(environment());
        App::setInstance(created);
    }
    // Source types can only be registered with a running libobs; tests of the plugin core
    // load it without one.
    if (obs_initialized()) {
        TextSource::registerType();
        GraphicsSource::registerType();
    }
    // Direct: the refresh takes the registry lock itself and runs wherever the live data
    // was applied, which in the plugin is always the user-interface thread.
    if (created)
        QObject::connect(&created->live(), &LiveData::changed, &created->live(), &TextSource::refreshAll, Qt::DirectConnection);
    addDock();
    return true;
}

void Module::postLoad()
{
    WebSocketVendor::registerVendor();
}

void Module::addDock()
{
    // Widgets need a QApplication; the plugin core's tests load without one.
    if (g_dock || !App::instance() || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    auto *dock = new Dock(App::instance());
    if (obs_frontend_add_dock_by_id(kDockId, "Corvane", dock)) {
        g_dock = dock;
        CORVANE_LOG_INFO("dock \"Corvane\" added to the Docks menu");
    } else
        delete dock; // no OBS front end (libobs-level tests)
}

void Module::useBleHelper(const QString &path)
{
    BleBridge::instance()->setHelperPath(path);
    if (path.isEmpty())
        CORVANE_LOG_WARNING("Bluetooth helper not found beside the plugin; Bluetooth setup is unavailable");
    else
        CORVANE_LOG_INFO("Bluetooth helper: %s", qUtf8Printable(path));
}

void Module::unload()
{
    WebSocketVendor::unregisterVendor();
    if (g_dock) {
        obs_frontend_remove_dock(kDockId);
        g_dock.clear();
    }
    BleBridge::instance()->stop();
    // OBS threads read the instance (the text sources): they must find none before the
    // object goes away, not a half-destroyed one.
    App *app = App::instance();
    App::setInstance(nullptr);
    delete app;
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

void Module::loadLocaleFile(const char *path)
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
