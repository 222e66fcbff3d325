#include "obs/GraphicsSource.h"

#include "app/App.h"
#include "base/Log.h"
#include "obs/Module.h"

#include <obs-module.h>

#include <QByteArray>
#include <QString>
#include <QThread>

#include <algorithm>
#include <memory>

namespace corvane {

namespace {

constexpr int kMinSize = 16;
constexpr int kMaxSize = 8192;
constexpr char kChildType[] = "browser_source";
constexpr char kTransparentCss[] = "body { background-color: rgba(0, 0, 0, 0); margin: 0px auto; overflow: hidden; }";

QString text(const char *key) { return QString::fromUtf8(Module::text(key)); }

bool obsKnowsType(const char *id)
{
    const char *type = nullptr;
    for (size_t i = 0; obs_enum_input_types(i, &type); ++i) {
        if (qstrcmp(type, id) == 0)
            return true;
    }
    return false;
}

// A size from settings or the portal, in the properties view's range: below it the
// default, above it the largest the view offers (also for values past an int's range).
int sizeIn(long long value, int fallback)
{
    return value < kMinSize ? fallback : static_cast<int>(std::min<long long>(value, kMaxSize));
}

// OBS and obs-websocket call the property callbacks from threads of their own; a call off
// the user-interface thread is named in OBS's log when OBS runs verbose.
void noteThread(const char *what)
{
    App *app = App::instance();
    if (!app || QThread::currentThread() == app->thread())
        return;
    CORVANE_LOG_DEBUG("graphics %s on thread \"%s\", not the user-interface thread", what,
                      qUtf8Printable(QThread::currentThread()->objectName()));
}

QString statusText(const OutputsView &view)
{
    if (!view.signedIn)
        return text("GraphicsSignIn");
    if (!view.error.isEmpty())
        return view.error;
    return text("GraphicsFound").arg(view.outputs.size());
}

void graphics_source_apply(GraphicsSource *gs, obs_data_t *settings)
{
    const char *url = obs_data_get_string(settings, "url");
    const int width = sizeIn(obs_data_get_int(settings, "width"), GraphicsSource::kDefaultWidth);
    const int height = sizeIn(obs_data_get_int(settings, "height"), GraphicsSource::kDefaultHeight);
    gs->width = width;
    gs->height = height;

    obs_data_t *child = obs_data_create();
    obs_data_set_string(child, "url", url);
    obs_data_set_int(child, "width", width);
    obs_data_set_int(child, "height", height);
    obs_data_set_int(child, "fps", 30);
    obs_data_set_bool(child, "fps_custom", true);
    obs_data_set_bool(child, "reroute_audio", false);
    obs_data_set_bool(child, "shutdown", false);
    obs_data_set_bool(child, "restart_when_active", false);
    obs_data_set_string(child, "css", kTransparentCss);
    obs_source_update(gs->child, child);
    obs_data_release(child);
}

void graphics_source_fill_outputs(obs_property_t *list, obs_data_t *settings, const OutputsView *view)
{
    obs_property_list_clear(list);
    const QString chosen = QString::fromUtf8(obs_data_get_string(settings, "output_id"));
    bool matched = false;
    if (view) {
        for (const GraphicsOutput &output : view->outputs) {
            obs_property_list_add_string(list, output.name.toUtf8().constData(), output.id.toUtf8().constData());
            matched = matched || output.id == chosen;
        }
    }
    // An output gone from the account keeps showing its page; keep it choosable by name.
    if (!chosen.isEmpty() && !matched) {
        const char *name = obs_data_get_string(settings, "output_name");
        obs_property_list_insert_string(list, 0, *name ? name : chosen.toUtf8().constData(),
                                        chosen.toUtf8().constData());
    }
    if (obs_property_list_item_count(list) == 0)
        obs_property_list_add_string(list, Module::text("GraphicsNone"), "");
}

// OBS calls this wherever the properties are listed, with the source's own settings:
// obs-websocket lists them on its threads, two at a time if asked. libobs's settings must
// not be changed from two threads at once (its item table breaks, and readers crash or
// spin), and only the properties view, on the user-interface thread, picks an output.
bool graphics_source_output_selected(obs_properties_t *, obs_property_t *, obs_data_t *settings)
{
    App *app = App::instance();
    if (!app || QThread::currentThread() != app->thread())
        return false;
    const QString id = QString::fromUtf8(obs_data_get_string(settings, "output_id"));
    if (id.isEmpty())
        return false;
    const std::shared_ptr<const OutputsView> view = app->outputsView();
    for (const GraphicsOutput &output : view->outputs) {
        if (output.id != id)
            continue;
        obs_data_set_string(settings, "url", output.url.toUtf8().constData());
        obs_data_set_string(settings, "output_name", output.name.toUtf8().constData());
        obs_data_set_int(settings, "width", sizeIn(output.width, GraphicsSource::kDefaultWidth));
        obs_data_set_int(settings, "height", sizeIn(output.height, GraphicsSource::kDefaultHeight));
        return true;
    }
    return false;
}

// Starts a fetch of the outputs and returns at once; OBS rebuilds the properties when the
// answer is in. The properties window may close meanwhile and take the source with it, so
// the answer holds only a weak reference. The fetch and its answer belong to the
// user-interface thread, whichever thread pressed the button.
bool graphics_source_refresh(obs_properties_t *, obs_property_t *, void *data)
{
    auto *gs = static_cast<GraphicsSource *>(data);
    App *app = App::instance();
    if (!gs || !app)
        return false;
    noteThread("refresh pressed");
    const std::shared_ptr<obs_weak_source_t> weak(obs_source_get_weak_source(gs->source), obs_weak_source_release);
    const std::shared_ptr<GraphicsSource::Refresh> refresh = gs->refresh;
    app->post([app, weak, refresh] {
        // A press while this source's fetch runs adds nothing.
        if (refresh->running)
            return;
        refresh->running = true;
        app->refreshOutputs([weak, refresh](bool, const QString &) {
            refresh->running = false;
            if (obs_source_t *source = obs_weak_source_get_source(weak.get())) {
                obs_source_update_properties(source);
                obs_source_release(source);
            }
        });
    });
    return false;
}

const char *graphics_source_get_name(void *) { return Module::text("CorvaneGraphics"); }

void *graphics_source_create(obs_data_t *settings, obs_source_t *source)
{
    if (!obsKnowsType(kChildType)) {
        CORVANE_LOG_ERROR("this OBS has no browser source, so graphics cannot be shown");
        return nullptr;
    }
    auto *gs = new GraphicsSource;
    gs->source = source;
    gs->refresh = std::make_shared<GraphicsSource::Refresh>();
    gs->child = obs_source_create_private(kChildType, "Corvane graphics", nullptr);
    graphics_source_apply(gs, settings);
    return gs;
}

void graphics_source_destroy(void *data)
{
    auto *gs = static_cast<GraphicsSource *>(data);
    obs_source_release(gs->child);
    delete gs;
}

void graphics_source_update(void *data, obs_data_t *settings)
{
    graphics_source_apply(static_cast<GraphicsSource *>(data), settings);
}

void graphics_source_get_defaults(obs_data_t *settings)
{
    obs_data_set_default_int(settings, "width", GraphicsSource::kDefaultWidth);
    obs_data_set_default_int(settings, "height", GraphicsSource::kDefaultHeight);
}

uint32_t graphics_source_get_width(void *data)
{
    return static_cast<uint32_t>(static_cast<GraphicsSource *>(data)->width.load());
}

uint32_t graphics_source_get_height(void *data)
{
    return static_cast<uint32_t>(static_cast<GraphicsSource *>(data)->height.load());
}

obs_properties_t *graphics_source_get_properties(void *data)
{
    auto *gs = static_cast<GraphicsSource *>(data);
    noteThread("properties asked for");
    App *app = App::instance();
    const std::shared_ptr<const OutputsView> view = app ? app->outputsView() : nullptr;
    obs_properties_t *props = obs_properties_create();

    obs_property_t *list = obs_properties_add_list(props, "output_id", Module::text("GraphicsOutput"),
                                                   OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
    obs_data_t *settings = gs ? obs_source_get_settings(gs->source) : obs_data_create();
    graphics_source_fill_outputs(list, settings, view.get());
    obs_data_release(settings);
    obs_property_set_modified_callback(list, graphics_source_output_selected);

    // The variant with private data: OBS 32 deprecates the one without.
    obs_properties_add_button2(props, "refresh", Module::text("GraphicsRefresh"), graphics_source_refresh, gs);

    if (view) {
        obs_properties_add_text(props, "status", statusText(*view).toUtf8().constData(), OBS_TEXT_INFO);
        obs_properties_add_int(props, "width", Module::text("Width"), kMinSize, kMaxSize, 1);
        obs_properties_add_int(props, "height", Module::text("Height"), kMinSize, kMaxSize, 1);
    }
    return props;
}

void graphics_source_show(void *data) { obs_source_inc_showing(static_cast<GraphicsSource *>(data)->child); }
void graphics_source_hide(void *data) { obs_source_dec_showing(static_cast<GraphicsSource *>(data)->child); }
void graphics_source_activate(void *data) { obs_source_inc_active(static_cast<GraphicsSource *>(data)->child); }
void graphics_source_deactivate(void *data) { obs_source_dec_active(static_cast<GraphicsSource *>(data)->child); }

void graphics_source_video_render(void *data, gs_effect_t *)
{
    obs_source_video_render(static_cast<GraphicsSource *>(data)->child);
}

} // namespace

void GraphicsSource::registerType()
{
    if (obs_get_source_output_flags("corvane_graphics") != 0)
        return;
    obs_source_info info = {};
    info.id = "corvane_graphics";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW;
    info.icon_type = OBS_ICON_TYPE_BROWSER;
    info.get_name = graphics_source_get_name;
    info.create = graphics_source_create;
    info.destroy = graphics_source_destroy;
    info.get_width = graphics_source_get_width;
    info.get_height = graphics_source_get_height;
    info.get_defaults = graphics_source_get_defaults;
    info.get_properties = graphics_source_get_properties;
    info.update = graphics_source_update;
    info.show = graphics_source_show;
    info.hide = graphics_source_hide;
    info.activate = graphics_source_activate;
    info.deactivate = graphics_source_deactivate;
    info.video_render = graphics_source_video_render;
    obs_register_source(&info);
}

} // namespace corvane
