#include "obs/TextSource.h"

#include "base/Log.h"
#include "live/ScoreState.h"
#include "live/TextTemplate.h"
#include "obs/DeviceChoice.h"
#include "obs/Module.h"

#include <obs-module.h>

#include <QStringList>

#include <mutex>
#include <set>

namespace corvane {

namespace {

constexpr char kTemplate[] = "template";
constexpr char kDevice[] = "device";
constexpr char kDefaultTemplate[] = "{home_score} - {away_score}";

// OBS's own text sources, best first: GDI+ on Windows, FreeType elsewhere.
constexpr const char *kChildTypes[] = {
    "text_gdiplus_v3", "text_gdiplus_v2", "text_gdiplus", "text_ft2_source_v2", "text_ft2_source",
};

// The wrapped source's own text input and file options, replaced by our template.
constexpr const char *kHiddenChildProperties[] = {"text", "from_file", "text_file", "log_mode"};

// Every live instance. OBS creates, updates and destroys sources on its own threads while
// the live-data refresh runs on the user-interface thread; holding this mutex across a
// whole refresh walk, an update and a registry change means an instance is never pushed to
// during or after its destruction.
std::mutex g_registryLock;
std::set<TextSource *> g_registry;

// Copies every setting (the wrapped source's included), puts `rendered` in as "text", and
// hands the copy to the wrapped source.
void push(TextSource *text, obs_data_t *settings, const QString &rendered)
{
    obs_data_t *copy = obs_data_create();
    obs_data_apply(copy, settings);
    obs_data_set_string(copy, "text", rendered.toUtf8().constData());
    obs_source_update(text->child, copy);
    obs_data_release(copy);
    text->shownText = rendered;
}

// After a settings change the wrapped source is always told, since its font or colour may
// have changed even when the text has not.
void renderAndPush(TextSource *text, obs_data_t *settings)
{
    text->templateText = QString::fromUtf8(obs_data_get_string(settings, kTemplate));
    text->deviceId = QString::fromUtf8(obs_data_get_string(settings, kDevice));
    push(text, settings, renderTemplate(text->templateText, DeviceChoice::shown(text->deviceId)));
}

QString fieldList(const QString &deviceId)
{
    const QStringList names = DeviceChoice::fieldNames(deviceId);
    if (names.isEmpty())
        return QStringLiteral("home_score, away_score, clock, period \u2026");
    return names.join(QStringLiteral(", "));
}

const char *corvane_text_get_name(void *)
{
    return Module::text("CorvaneText");
}

void *corvane_text_create(obs_data_t *settings, obs_source_t *source)
{
    const char *childType = TextSource::chooseChildType([](const char *id) { return obs_get_source_output_flags(id) != 0; });
    if (!childType) {
        CORVANE_LOG_ERROR("no OBS text source is available on this system");
        return nullptr;
    }
    auto *text = new TextSource;
    text->source = source;
    text->child = obs_source_create_private(childType, "Corvane text", nullptr);
    if (!text->child) {
        delete text;
        return nullptr;
    }
    renderAndPush(text, settings);
    std::lock_guard<std::mutex> guard(g_registryLock);
    g_registry.insert(text);
    return text;
}

void corvane_text_destroy(void *data)
{
    auto *text = static_cast<TextSource *>(data);
    {
        std::lock_guard<std::mutex> guard(g_registryLock);
        g_registry.erase(text);
    }
    obs_source_release(text->child);
    delete text;
}

void corvane_text_get_defaults(obs_data_t *settings)
{
    obs_data_set_default_string(settings, kTemplate, kDefaultTemplate);
    obs_data_set_default_string(settings, kDevice, "");
}

obs_properties_t *corvane_text_get_properties(void *data)
{
    auto *text = static_cast<TextSource *>(data);
    obs_properties_t *props = text ? obs_source_properties(text->child) : nullptr;
    if (!props)
        props = obs_properties_create();
    for (const char *name : kHiddenChildProperties)
        obs_properties_remove_by_name(props, name);

    const QString deviceId = DeviceChoice::current(text ? text->source : nullptr, kDevice);
    DeviceChoice::addList(props, kDevice, deviceId);
    obs_property_t *templateProp = obs_properties_add_text(props, kTemplate, Module::text("TextTemplate"), OBS_TEXT_MULTILINE);
    const QByteArray hint = QString::fromUtf8(Module::text("TextTemplateHint")).arg(fieldList(deviceId)).toUtf8();
    obs_property_set_long_description(templateProp, hint.constData());
    obs_properties_add_text(props, "hint", hint.constData(), OBS_TEXT_INFO);
    return props;
}

void corvane_text_update(void *data, obs_data_t *settings)
{
    // The update may come from OBS's video thread while a refresh runs on the UI thread;
    // both write templateText and push to the child.
    std::lock_guard<std::mutex> guard(g_registryLock);
    renderAndPush(static_cast<TextSource *>(data), settings);
}

uint32_t corvane_text_get_width(void *data)
{
    return obs_source_get_width(static_cast<TextSource *>(data)->child);
}

uint32_t corvane_text_get_height(void *data)
{
    return obs_source_get_height(static_cast<TextSource *>(data)->child);
}

void corvane_text_video_render(void *data, gs_effect_t *)
{
    obs_source_video_render(static_cast<TextSource *>(data)->child);
}

} // namespace

const char *TextSource::chooseChildType(const std::function<bool(const char *id)> &known)
{
    for (const char *id : kChildTypes) {
        if (known(id))
            return id;
    }
    return nullptr;
}

std::size_t TextSource::registeredCount()
{
    std::lock_guard<std::mutex> guard(g_registryLock);
    return g_registry.size();
}

void TextSource::refreshAll() { refreshDevice(QString()); }

void TextSource::refreshDevice(const QString &deviceId)
{
    std::lock_guard<std::mutex> guard(g_registryLock);
    const ScoreState state = DeviceChoice::shown(deviceId);
    for (TextSource *text : g_registry) {
        if (text->deviceId != deviceId)
            continue;
        // A source whose fields did not change (a clock ticking beside a score) costs one
        // render and no update of the wrapped source.
        const QString rendered = renderTemplate(text->templateText, state);
        if (rendered == text->shownText)
            continue;
        obs_data_t *settings = obs_source_get_settings(text->source);
        push(text, settings, rendered);
        obs_data_release(settings);
    }
}

void TextSource::registerType()
{
    if (obs_get_source_output_flags("corvane_text") != 0)
        return;
    obs_source_info info = {};
    info.id = "corvane_text";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW;
    info.icon_type = OBS_ICON_TYPE_TEXT;
    info.get_name = corvane_text_get_name;
    info.create = corvane_text_create;
    info.destroy = corvane_text_destroy;
    info.get_width = corvane_text_get_width;
    info.get_height = corvane_text_get_height;
    info.get_defaults = corvane_text_get_defaults;
    info.get_properties = corvane_text_get_properties;
    info.update = corvane_text_update;
    info.video_render = corvane_text_video_render;
    obs_register_source(&info);
}

} // namespace corvane
