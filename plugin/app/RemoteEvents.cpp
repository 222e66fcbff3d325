#include "app/RemoteEvents.h"

#include "app/App.h"
#include "app/FollowedDevice.h"
#include "app/FollowedDevices.h"
#include "app/RemoteRequests.h"
#include "live/SourceManager.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

namespace corvane {

RemoteEvents::RemoteEvents(App &app, Emit emit, QObject *parent)
    : QObject(parent)
    , m_app(app)
    , m_emit(std::move(emit))
{
    // The snapshot the hosted server serialised for this update, whatever the number of
    // obs-websocket clients.
    connect(&app.shown(), &ShownScores::changed, this, [this] { m_emit("LiveDataChanged", m_app.live().snapshotJson()); });
    connect(app.sourceManager(), &SourceManager::statusChanged, this,
            [this] { m_emit("StatusChanged", QJsonDocument(m_app.handleServerCommand(QStringLiteral("status"), {})).toJson(QJsonDocument::Compact)); });
    FollowedDevices *followed = app.followed();
    for (const QString &id : followed->ids())
        watch(id);
    connect(followed, &FollowedDevices::followed, this, [this](const QString &id) {
        watch(id);
        devicesChanged();
    });
    connect(followed, &FollowedDevices::unfollowed, this, [this](const QString &id) {
        unwatch(id);
        devicesChanged();
    });
}

void RemoteEvents::watch(const QString &deviceId)
{
    FollowedDevice *device = m_app.followed()->device(deviceId);
    if (!device || m_watched.contains(deviceId))
        return;
    m_watched.insert(deviceId, {connect(&device->shown(), &ShownScores::changed, this, [this, deviceId] { deviceLiveChanged(deviceId); }),
                                connect(device->sourceManager(), &SourceManager::statusChanged, this,
                                        [this, deviceId] { deviceStatusChanged(deviceId); })});
}

void RemoteEvents::unwatch(const QString &deviceId)
{
    // Its data may outlive the unfollow in a reader's hands; nothing of it goes out any more.
    for (const QMetaObject::Connection &connection : m_watched.take(deviceId))
        disconnect(connection);
}

void RemoteEvents::deviceLiveChanged(const QString &deviceId)
{
    if (FollowedDevice *device = m_app.followed()->device(deviceId)) {
        QJsonObject snapshot = device->live().snapshot();
        snapshot.insert(QStringLiteral("deviceId"), deviceId);
        send("DeviceLiveDataChanged", snapshot);
    }
}

void RemoteEvents::deviceStatusChanged(const QString &deviceId)
{
    QJsonObject status = RemoteRequests::answer(m_app, QStringLiteral("GetStatus"), {{QStringLiteral("deviceId"), deviceId}});
    if (status.value(QStringLiteral("ok")).toBool()) {
        status.remove(QStringLiteral("ok"));
        status.insert(QStringLiteral("deviceId"), deviceId);
        send("DeviceStatusChanged", status);
    }
}

void RemoteEvents::devicesChanged()
{
    // Listed once the change under way is whole: a device made main is unfollowed before the
    // main route is its, and the former main one may be followed right after.
    if (std::exchange(m_listPending, true))
        return;
    QMetaObject::invokeMethod(this, [this] {
        m_listPending = false;
        QJsonObject list = RemoteRequests::answer(m_app, QStringLiteral("ListFollowedDevices"), {});
        list.remove(QStringLiteral("ok"));
        send("FollowedDevicesChanged", list);
    }, Qt::QueuedConnection);
}

void RemoteEvents::send(const char *name, const QJsonObject &object)
{
    m_emit(name, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace corvane
