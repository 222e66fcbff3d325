#include "obs/WebSocketVendor.h"

#include "app/App.h"
#include "app/RemoteEvents.h"
#include "app/RemoteRequests.h"
#include "base/Log.h"

#include <obs-frontend-api.h>
#include <obs-websocket-api.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QList>

#include <memory>

namespace corvane {

namespace {

obs_websocket_vendor g_vendor = nullptr;
// Emits the events; gone once the vendor is unregistered.
std::unique_ptr<RemoteEvents> g_events;
// The request names, kept alive for obs-websocket, which holds them as callback data.
QList<QByteArray> g_requestNames;
bool g_frontendCallback = false; // whether onFrontendEvent is registered

obs_data_t *toObsData(const QJsonObject &object)
{
    return obs_data_create_from_json(QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
}

// Runs on obs-websocket's own threads.
void onRequest(obs_data_t *request, obs_data_t *response, void *name)
{
    const char *json = request ? obs_data_get_json(request) : nullptr;
    const QJsonObject data = json ? QJsonDocument::fromJson(json).object() : QJsonObject();
    obs_data_t *answer = toObsData(RemoteRequests::ask(QString::fromUtf8(static_cast<const char *>(name)), data));
    obs_data_apply(response, answer);
    obs_data_release(answer);
}

void emitEvent(const char *name, const QByteArray &json)
{
    if (!g_vendor)
        return;
    obs_data_t *data = obs_data_create_from_json(json.constData());
    obs_websocket_vendor_emit_event(g_vendor, name, data);
    obs_data_release(data);
}

// Requests and events end.
void stopServing()
{
    g_events.reset();
    if (!g_vendor)
        return;
    for (const QByteArray &name : std::as_const(g_requestNames))
        obs_websocket_vendor_unregister_request(g_vendor, name.constData());
    g_vendor = nullptr;
}

void onFrontendEvent(obs_frontend_event event, void *)
{
    if (event != OBS_FRONTEND_EVENT_EXIT)
        return;
    stopServing();
    // OBS walks its callbacks from the last one down, so this one may go while it runs; by
    // the time modules unload the front end no longer takes removals.
    obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
    g_frontendCallback = false;
}

} // namespace

void WebSocketVendor::registerVendor()
{
    App *app = App::instance();
    if (g_vendor || !app)
        return;
    g_vendor = obs_websocket_register_vendor("corvane");
    if (!g_vendor) {
        CORVANE_LOG_INFO("obs-websocket is not available; scores are not offered to its clients");
        return;
    }
    g_requestNames.clear();
    for (const QString &name : RemoteRequests::names())
        g_requestNames.append(name.toUtf8());
    for (QByteArray &name : g_requestNames)
        obs_websocket_vendor_register_request(g_vendor, name.constData(), onRequest, name.data());
    g_events = std::make_unique<RemoteEvents>(*app, emitEvent);
    // obs-websocket goes away during OBS's exit, before our unload; unregister while it is
    // still there.
    if (!g_frontendCallback)
        obs_frontend_add_event_callback(onFrontendEvent, nullptr);
    g_frontendCallback = true;
    CORVANE_LOG_INFO("obs-websocket vendor \"corvane\" registered");
}

void WebSocketVendor::unregisterVendor()
{
    stopServing();
    // An unload without an exit event (a failed start, a host that is not the OBS window)
    // must not leave OBS calling into an unloaded module.
    if (g_frontendCallback)
        obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
    g_frontendCallback = false;
}

} // namespace corvane
