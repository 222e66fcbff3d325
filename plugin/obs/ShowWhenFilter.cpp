#include "obs/ShowWhenFilter.h"

#include "live/ScoreState.h"
#include "obs/DeviceChoice.h"
#include "obs/Module.h"

#include <obs-module.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <mutex>
#include <set>

namespace corvane {

namespace {

constexpr char kMatch[] = "match";
constexpr char kNoScores[] = "no_scores";
constexpr char kDevice[] = "device";

QByteArray rowKey(const char *name, int row) { return QByteArray(name) + '_' + QByteArray::number(row); }

QString text(const char *key) { return QString::fromUtf8(Module::text(key)); }

// As the text sources: OBS creates, updates and destroys filters on its own threads while
// the refresh runs on the user-interface thread.
std::mutex g_registryLock;
std::set<ShowWhenFilter *> g_registry;

const char *show_when_get_name(void *) { return Module::text("CorvaneShowWhen"); }

void show_when_update(void *data, obs_data_t *settings)
{
    auto *filter = static_cast<ShowWhenFilter *>(data);
    std::lock_guard<std::mutex> guard(g_registryLock);
    filter->read(settings);
    filter->visible = filter->shows(DeviceChoice::shown(filter->deviceId));
}

void *show_when_create(obs_data_t *settings, obs_source_t *source)
{
    auto *filter = new ShowWhenFilter;
    filter->filter = source;
    show_when_update(filter, settings);
    std::lock_guard<std::mutex> guard(g_registryLock);
    g_registry.insert(filter);
    return filter;
}

void show_when_destroy(void *data)
{
    auto *filter = static_cast<ShowWhenFilter *>(data);
    {
        std::lock_guard<std::mutex> guard(g_registryLock);
        g_registry.erase(filter);
    }
    delete filter;
}

void show_when_get_defaults(obs_data_t *settings)
{
    obs_data_set_default_string(settings, kMatch, "all");
    obs_data_set_default_string(settings, kNoScores, "hide");
    obs_data_set_default_string(settings, kDevice, "");
    for (int row = 1; row <= ShowWhenFilter::kRows; ++row)
        obs_data_set_default_string(settings, rowKey("op", row).constData(), "eq");
}

obs_properties_t *show_when_get_properties(void *data)
{
    const auto *filter = static_cast<ShowWhenFilter *>(data);
    const QString deviceId = DeviceChoice::current(filter ? filter->filter : nullptr, kDevice);
    QStringList fields = DeviceChoice::fieldNames(deviceId);
    fields.append(QStringLiteral("sport"));

    obs_properties_t *props = obs_properties_create();
    DeviceChoice::addList(props, kDevice, deviceId);
    obs_property_t *match = obs_properties_add_list(props, kMatch, Module::text("ShowWhenMatch"), OBS_COMBO_TYPE_LIST,
                                                    OBS_COMBO_FORMAT_STRING);
    obs_property_list_add_string(match, Module::text("ShowWhenAll"), "all");
    obs_property_list_add_string(match, Module::text("ShowWhenAny"), "any");

    for (int row = 1; row <= ShowWhenFilter::kRows; ++row) {
        const QByteArray number = QByteArray::number(row);
        const QByteArray fieldLabel = text("ShowWhenField").arg(row).toUtf8();
        const QByteArray opLabel = text("ShowWhenOperator").arg(row).toUtf8();
        const QByteArray valueLabel = text("ShowWhenValue").arg(row).toUtf8();
        // Editable: a field the device has not sent yet can be typed in.
        obs_property_t *field = obs_properties_add_list(props, rowKey("field", row).constData(), fieldLabel.constData(),
                                                        OBS_COMBO_TYPE_EDITABLE, OBS_COMBO_FORMAT_STRING);
        obs_property_list_add_string(field, "", "");
        for (const QString &name : fields) {
            const QByteArray utf8 = name.toUtf8();
            obs_property_list_add_string(field, utf8.constData(), utf8.constData());
        }
        obs_property_t *op = obs_properties_add_list(props, rowKey("op", row).constData(), opLabel.constData(),
                                                     OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
        for (ShowCondition::Op each : ShowCondition::allOps())
            obs_property_list_add_string(op, ShowCondition::label(each).toUtf8().constData(),
                                         ShowCondition::key(each).toUtf8().constData());
        obs_properties_add_text(props, rowKey("value", row).constData(), valueLabel.constData(), OBS_TEXT_DEFAULT);
    }

    obs_property_t *noScores = obs_properties_add_list(props, kNoScores, Module::text("ShowWhenNoData"),
                                                       OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
    obs_property_list_add_string(noScores, Module::text("ShowWhenNoDataShow"), "show");
    obs_property_list_add_string(noScores, Module::text("ShowWhenNoDataHide"), "hide");

    fields.removeLast();
    const QString sent = fields.isEmpty() ? QStringLiteral("none yet") : fields.join(QStringLiteral(", "));
    obs_properties_add_text(props, "hint", text("ShowWhenHint").arg(sent).toUtf8().constData(), OBS_TEXT_INFO);
    return props;
}

void show_when_video_render(void *data, gs_effect_t *)
{
    auto *filter = static_cast<ShowWhenFilter *>(data);
    // Drawing nothing hides the source; skipping the filter draws it as it is.
    if (filter->visible.load())
        obs_source_skip_video_filter(filter->filter);
}

} // namespace

bool ShowWhenFilter::shows(const ScoreState &state) const
{
    if (state.fields.isEmpty())
        return showWithoutScores;
    return ShowCondition::allHold(conditions, match, state);
}

void ShowWhenFilter::read(obs_data_t *settings)
{
    match = QByteArray(obs_data_get_string(settings, kMatch)) == "any" ? ShowCondition::Match::Any
                                                                       : ShowCondition::Match::All;
    showWithoutScores = QByteArray(obs_data_get_string(settings, kNoScores)) == "show";
    deviceId = QString::fromUtf8(obs_data_get_string(settings, kDevice));
    conditions.clear();
    for (int row = 1; row <= kRows; ++row) {
        ShowCondition condition;
        condition.field = QString::fromUtf8(obs_data_get_string(settings, rowKey("field", row).constData()));
        // An operator this version does not know leaves the row out rather than testing
        // something else.
        if (!ShowCondition::fromKey(QString::fromUtf8(obs_data_get_string(settings, rowKey("op", row).constData())),
                                    &condition.op))
            continue;
        condition.value = QString::fromUtf8(obs_data_get_string(settings, rowKey("value", row).constData()));
        conditions.append(condition);
    }
}

void ShowWhenFilter::refreshAll() { refreshDevice(QString()); }

void ShowWhenFilter::refreshDevice(const QString &deviceId)
{
    std::lock_guard<std::mutex> guard(g_registryLock);
    const ScoreState state = DeviceChoice::shown(deviceId);
    for (ShowWhenFilter *filter : g_registry) {
        if (filter->deviceId == deviceId)
            filter->visible = filter->shows(state);
    }
}

std::size_t ShowWhenFilter::registeredCount()
{
    std::lock_guard<std::mutex> guard(g_registryLock);
    return g_registry.size();
}

void ShowWhenFilter::registerType()
{
    if (obs_get_source_output_flags("corvane_show_when") != 0)
        return;
    obs_source_info info = {};
    info.id = "corvane_show_when";
    info.type = OBS_SOURCE_TYPE_FILTER;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = show_when_get_name;
    info.create = show_when_create;
    info.destroy = show_when_destroy;
    info.update = show_when_update;
    info.get_defaults = show_when_get_defaults;
    info.get_properties = show_when_get_properties;
    info.video_render = show_when_video_render;
    obs_register_source(&info);
}

} // namespace corvane
