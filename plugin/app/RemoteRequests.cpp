#include "app/RemoteRequests.h"

#include "app/App.h"
#include "app/FollowedDevice.h"
#include "app/FollowedDevices.h"
#include "live/HostedServer.h"
#include "live/SourceManager.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace corvane {

namespace {

// The device a request names: absent, "" or the main device's own id the main device; a
// followed device by its id.
struct Target {
    bool known = true;
    FollowedDevice *followed = nullptr;
};

Target target(App &app, const QJsonObject &data)
{
    const QJsonValue id = data.value(QStringLiteral("deviceId"));
    if (id.isUndefined() || id.isNull())
        return {};
    if (!id.isString())
        return {false};
    if (FollowedDevice *device = app.followed()->device(id.toString()))
        return {true, device};
    return {id.toString().isEmpty() || id.toString() == app.sourceManager()->device()};
}

QJsonObject unknownDevice() { return HostedServer::failure(QStringLiteral("unknown_device")); }

QJsonObject getLiveData(App &app, const QJsonObject &data)
{
    const Target device = target(app, data);
    if (!device.known)
        return unknownDevice();
    return device.followed ? device.followed->live().snapshot() : app.live().snapshot();
}

// The hosted server's status answer, for a followed device.
QJsonObject followedStatus(App &app, FollowedDevice &device)
{
    const SourceManager *manager = device.sourceManager();
    return {{QStringLiteral("signed_in"), app.portal().isSignedIn()},
            {QStringLiteral("account"), app.portal().email()},
            {QStringLiteral("source"), manager->source()},
            {QStringLiteral("device"), device.id()},
            {QStringLiteral("live"), manager->isLive()},
            {QStringLiteral("message"), manager->message()},
            {QStringLiteral("sport"), device.live().sport()}};
}

QJsonObject getStatus(App &app, const QJsonObject &data)
{
    const Target device = target(app, data);
    if (!device.known)
        return unknownDevice();
    return device.followed ? followedStatus(app, *device.followed) : app.handleServerCommand(QStringLiteral("status"), {});
}

QJsonObject deviceEntry(const QString &id, const QString &name, const QString &route, bool main, const SourceManager *manager)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("route"), route},
            {QStringLiteral("main"), main},
            {QStringLiteral("live"), manager->isLive()},
            {QStringLiteral("message"), manager->message()}};
}

QString mainDeviceName(App &app)
{
    const SourceManager *manager = app.sourceManager();
    for (const CloudDevice &device : app.devices()) {
        if (device.deviceId == manager->device())
            return device.displayName();
    }
    return manager->source();
}

QJsonObject listFollowedDevices(App &app, const QJsonObject &)
{
    const SourceManager *main = app.sourceManager();
    QJsonArray list{deviceEntry(main->device(), mainDeviceName(app), main->routeKind(), true, main)};
    for (const QString &id : app.followed()->ids()) {
        const FollowedDevice *device = app.followed()->device(id);
        const FollowedRoute &route = device->route();
        list.append(deviceEntry(id, route.label(), FollowedRoute::kindName(route.kind), false, device->sourceManager()));
    }
    return {{QStringLiteral("devices"), list}};
}

QJsonObject listDevices(App &app, const QJsonObject &) { return app.handleServerCommand(QStringLiteral("devices"), {}); }

QJsonObject selectDevice(App &app, const QJsonObject &data)
{
    return app.handleServerCommand(QStringLiteral("use"), {{QStringLiteral("device"), data.value(QStringLiteral("deviceId"))}});
}

struct Request {
    const char *name;
    QJsonObject (*answer)(App &, const QJsonObject &);
    // As on the hosted server: a snapshot goes out as it is, other answers carry "ok".
    bool addsOk;
};

constexpr Request kRequests[] = {
    {"GetLiveData", getLiveData, false},
    {"GetStatus", getStatus, true},
    {"ListDevices", listDevices, true},
    {"SelectDevice", selectDevice, true},
    {"ListFollowedDevices", listFollowedDevices, true},
};

QJsonObject answerNow(const QString &request, const QJsonObject &data)
{
    App *app = App::instance();
    return app ? RemoteRequests::answer(*app, request, data) : HostedServer::failure(QStringLiteral("unavailable"));
}

} // namespace

QStringList RemoteRequests::names()
{
    QStringList list;
    for (const Request &request : kRequests)
        list << QString::fromLatin1(request.name);
    return list;
}

QJsonObject RemoteRequests::answer(App &app, const QString &request, const QJsonObject &data)
{
    for (const Request &entry : kRequests) {
        if (request == QLatin1String(entry.name)) {
            QJsonObject reply = entry.answer(app, data);
            if (entry.addsOk && !reply.contains(QLatin1String("ok")))
                reply.insert(QStringLiteral("ok"), true);
            return reply;
        }
    }
    return HostedServer::failure(QStringLiteral("unknown_request"));
}

QJsonObject RemoteRequests::ask(const QString &request, const QJsonObject &data, int timeoutMs)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return HostedServer::failure(QStringLiteral("unavailable"));
    if (QThread::currentThread() == application->thread())
        return answerNow(request, data);

    // Shared with the queued call, which may run after we have stopped waiting.
    struct Pending {
        std::mutex lock;
        std::condition_variable done;
        bool answered = false;
        QJsonObject answer;
    };
    auto pending = std::make_shared<Pending>();
    QMetaObject::invokeMethod(application, [pending, request, data] {
        QJsonObject answer = answerNow(request, data);
        std::lock_guard<std::mutex> guard(pending->lock);
        pending->answer = std::move(answer);
        pending->answered = true;
        pending->done.notify_all();
    }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> guard(pending->lock);
    if (!pending->done.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return pending->answered; }))
        return HostedServer::failure(QStringLiteral("timeout"));
    return pending->answer;
}

} // namespace corvane
