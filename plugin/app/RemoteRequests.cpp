#include "app/RemoteRequests.h"

#include "app/App.h"
#include "live/HostedServer.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace corvane {

namespace {

QJsonObject getLiveData(App &app, const QJsonObject &) { return app.live().snapshot(); }

QJsonObject getStatus(App &app, const QJsonObject &) { return app.handleServerCommand(QStringLiteral("status"), {}); }

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
