#include "obs/Module.h"

#include "app/App.h"
#include "app/FollowedDevices.h"
#include "base/Log.h"
#include "base/Version.h"
#include "device/ble/BleBridge.h"
#include "obs/GraphicsSource.h"
#include "obs/GameProduction.h"
#include "obs/ShowWhenFilter.h"
#include "obs/TextSource.h"
#include "obs/WebSocketVendor.h"
#include "ui/Dock.h"
#include "ui/DockHost.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QVariant>

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace corvane {

namespace {

text_lookup *g_lookup = nullptr;
// OBS owns the dock once it is added and deletes it when the dock is removed.
QPointer<DockHost> g_dock;
constexpr char kDockId[] = "corvane-dock";

// The start, and what it takes from the load.
std::function<AppEnvironment()> g_environment;
std::function<QString()> g_bleHelperPath;
QElapsedTimer g_sinceLoad;
bool g_started = false;
bool g_modulesLoaded = false; // obs_module_post_load has run
bool g_waitingForObs = false; // onObsEvent is registered with the front end
bool g_obsExiting = false;    // OBS's front end said it quits
// Context of the start queued when OBS has finished loading: deleting it drops the start.
QObject *g_startQueue = nullptr;
// Another copy of the plugin was loaded first; this one does nothing at all.
bool g_inert = false;

// OBS loads a per-user copy and a system copy side by side. Both see the one Qt of the
// process, so the first to load marks the application with its own address and path.
constexpr char kCopyProperty[] = "corvane-obs.loadedCopy";
constexpr char kCopyPathProperty[] = "corvane-obs.loadedCopyPath";
const char g_thisCopy = 0;

qulonglong thisCopy()
{
    return qulonglong(reinterpret_cast<quintptr>(&g_thisCopy));
}

QString thisCopyPath()
{
#ifndef _WIN32
    Dl_info info{};
    if (dladdr(&g_thisCopy, &info) && info.dli_fname)
        return QString::fromLocal8Bit(info.dli_fname);
#endif
    return {};
}

// The path of the copy loaded before this one, or null when this copy is the first (and now
// claims the process).
QString earlierCopy()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return {};
    const QVariant owner = app->property(kCopyProperty);
    if (owner.isValid() && owner.toULongLong() != thisCopy()) {
        const QString path = app->property(kCopyPathProperty).toString();
        return path.isEmpty() ? QStringLiteral("?") : path;
    }
    app->setProperty(kCopyProperty, thisCopy());
    app->setProperty(kCopyPathProperty, thisCopyPath());
    return {};
}

void releaseCopyClaim()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || app->property(kCopyProperty).toULongLong() != thisCopy())
        return;
    app->setProperty(kCopyProperty, QVariant());
    app->setProperty(kCopyPathProperty, QVariant());
}

void logToObs(LogLevel level, const char *line)
{
    blog(int(level), "%s", line);
}

void onObsEvent(obs_frontend_event event, void *);

void stopWaitingForObs()
{
    if (!g_waitingForObs)
        return;
    g_waitingForObs = false;
    obs_frontend_remove_event_callback(onObsEvent, nullptr);
}

// Directly, never later: a later deletion would run after this module's code has gone.
void dropQueuedStart()
{
    delete g_startQueue;
    g_startQueue = nullptr;
}

// Removes itself from within: OBS walks its callbacks from the last one down, so the one
// running may go.
void onObsEvent(obs_frontend_event event, void *)
{
    if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING) {
        stopWaitingForObs();
        if (Module::isStarted() || g_startQueue)
            return;
        // OBS sends this just before its event loop runs; the start waits for the loop.
        g_startQueue = new QObject;
        QTimer::singleShot(0, g_startQueue, [] { Module::start(); });
    } else if (event == OBS_FRONTEND_EVENT_EXIT) {
        // OBS quits, possibly before the plugin started; by the time modules unload the
        // front end takes no removals any more.
        g_obsExiting = true;
        stopWaitingForObs();
        dropQueuedStart();
    }
}

void refreshBound(const QString &deviceId)
{
    TextSource::refreshDevice(deviceId);
    ShowWhenFilter::refreshDevice(deviceId);
}

// Sources bound to a followed device refresh on its updates alone; those bound to one
// that goes show nothing.
void bindFollowed(App *app, const QString &deviceId)
{
    ShownScores *shown = app->shownOf(deviceId);
    if (!shown)
        return;
    QObject::connect(shown, &ShownScores::changed, shown, [deviceId] { refreshBound(deviceId); }, Qt::DirectConnection);
    refreshBound(deviceId);
}

void bindFollowedDevices(App *app)
{
    FollowedDevices *followed = app->followed();
    QObject::connect(followed, &FollowedDevices::followed, app, [app](const QString &id) { bindFollowed(app, id); });
    QObject::connect(followed, &FollowedDevices::unfollowed, app, [](const QString &id) { refreshBound(id); });
    // A device made main keeps feeding the sources bound to its id: they read the main
    // device's scores now.
    QObject::connect(
        &app->shown(), &ShownScores::changed, &app->shown(),
        [app] {
            const QString mainId = app->mainDeviceId();
            if (!mainId.isEmpty())
                refreshBound(mainId);
        },
        Qt::DirectConnection);
    for (const QString &id : followed->ids())
        bindFollowed(app, id);
}

} // namespace

bool Module::load(const std::function<AppEnvironment()> &environment, const std::function<QString()> &bleHelperPath)
{
    setLogSink(logToObs);
    CORVANE_LOG_INFO("loading plugin %s", CORVANE_PLUGIN_VERSION);
    const QString earlier = earlierCopy();
    g_inert = !earlier.isNull();
    if (g_inert) {
        CORVANE_LOG_WARNING("another copy of this plugin is already loaded (%s); this copy (%s) stays inactive: no "
                            "sources, dock or servers. Remove one of the two.",
                            qUtf8Printable(earlier), qUtf8Printable(thisCopyPath()));
        return true;
    }
    g_sinceLoad.start();
    g_environment = environment;
    g_bleHelperPath = bleHelperPath;
    // Source types can only be registered with a running libobs; tests of the plugin core
    // load it without one.
    if (obs_initialized()) {
        TextSource::registerType();
        GraphicsSource::registerType();
        ShowWhenFilter::registerType();
    }
    // Everything else waits until OBS has finished loading, so that OBS shows its window
    // sooner: App, its server and sign-in, and the dock's content cost many times what
    // registering the types and the dock does. The dock's content waits for its first use.
    if (addDock() && !g_started && !g_waitingForObs) {
        g_obsExiting = false;
        obs_frontend_add_event_callback(onObsEvent, nullptr);
        g_waitingForObs = true;
    } else if (!g_waitingForObs) {
        start();
    }
    return true;
}

void Module::start()
{
    if (g_started || g_inert)
        return;
    g_started = true;
    if (g_startQueue) {
        // This may be the queued call itself.
        g_startQueue->deleteLater();
        g_startQueue = nullptr;
    }
    if (!App::instance()) {
        AppEnvironment environment = g_environment ? g_environment() : AppEnvironment{};
        environment.loadedMsAgo = g_sinceLoad.isValid() ? g_sinceLoad.elapsed() : 0;
        auto *app = new App(environment);
        App::setInstance(app);
        // Direct: the refreshes take their registry locks themselves and run wherever the
        // live data was applied, which in the plugin is always the user-interface thread.
        QObject::connect(&app->shown(), &ShownScores::changed, &app->shown(), &TextSource::refreshAll, Qt::DirectConnection);
        QObject::connect(&app->shown(), &ShownScores::changed, &app->shown(), &ShowWhenFilter::refreshAll,
                         Qt::DirectConnection);
        bindFollowedDevices(app);
    }
    GameProduction::start(App::instance());
    if (g_bleHelperPath)
        useBleHelper(g_bleHelperPath());
    if (g_modulesLoaded)
        WebSocketVendor::registerVendor();
}

void Module::fillDock()
{
    // OBS may measure its docks while it quits; nothing starts then.
    DockHost *dock = g_dock.data();
    if (!dock || dock->content() || g_obsExiting)
        return;
    start();
    dock->setContent(new Dock(App::instance()));
}

bool Module::isStarted()
{
    return g_started;
}

void Module::postLoad()
{
    // An inactive copy keeps no state: left set, it would offer a vendor at a later load.
    if (g_inert)
        return;
    g_modulesLoaded = true;
    if (g_started)
        WebSocketVendor::registerVendor();
}

bool Module::addDock()
{
    // Widgets need a QApplication; the plugin core's tests load without one.
    if (g_dock || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    auto *dock = new DockHost(&Module::fillDock);
    if (obs_frontend_add_dock_by_id(kDockId, "Corvane", dock)) {
        g_dock = dock;
        CORVANE_LOG_INFO("dock \"Corvane\" added to the Docks menu");
        return true;
    }
    delete dock; // no OBS front end (libobs-level tests)
    return false;
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
    if (g_inert) {
        g_inert = false;
        return;
    }
    stopWaitingForObs();
    dropQueuedStart();
    WebSocketVendor::unregisterVendor();
    if (g_dock) {
        obs_frontend_remove_dock(kDockId);
        g_dock.clear();
    }
    if (g_started)
        BleBridge::instance()->stop();
    GameProduction::stop();
    // OBS threads read the instance (the text sources): they must find none before the
    // object goes away, not a half-destroyed one.
    App *app = App::instance();
    App::setInstance(nullptr);
    delete app;
    g_started = false;
    g_modulesLoaded = false;
    g_environment = nullptr;
    g_bleHelperPath = nullptr;
    releaseCopyClaim();
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
