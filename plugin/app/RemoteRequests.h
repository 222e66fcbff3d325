#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace corvane {

class App;

// The requests other programs send through OBS's own remote-control protocol (vendor
// requests of obs-websocket), answered by the same App code that answers the hosted
// server's clients: "GetLiveData" is the server's "get", "GetStatus" its "status",
// "ListDevices" its "devices", "SelectDevice" with "deviceId" its "use". Answers are the
// server's, without the "op" it adds. "GetLiveData" and "GetStatus" answer for the main
// device unless "deviceId" names a followed one (the main device's own id, or "", names the
// main one); any other value answers {"ok": false, "error": "unknown_device"}.
// "ListFollowedDevices" lists the main device first, then each followed one.
class RemoteRequests {
public:
    // The request names, in table order.
    static QStringList names();
    // The answer to `request` with its `data`; an unknown request answers
    // {"ok": false, "error": "unknown_request"}. On App's thread.
    static QJsonObject answer(App &app, const QString &request, const QJsonObject &data);
    // From any thread: the answer computed on the thread of App::instance(), waiting at most
    // `timeoutMs`. {"ok": false, "error": "unavailable"} without an App, "timeout" when the
    // user-interface thread did not answer in time.
    static QJsonObject ask(const QString &request, const QJsonObject &data, int timeoutMs = kDefaultTimeoutMs);

    static constexpr int kDefaultTimeoutMs = 5000;
};

} // namespace corvane
