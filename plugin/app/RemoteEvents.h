#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

namespace corvane {

class App;

// The events obs-websocket's clients receive beside the remote requests, each handed to
// `emit` as compact JSON. For the main device, as before any device was followed:
// "LiveDataChanged" (the snapshot, whenever what the production shows changes: none while
// held, the latest on resuming) and "StatusChanged" (the "GetStatus" answer without "ok").
// For each followed device, under names of their own so that a client of the main device
// never takes another game for its own: "DeviceLiveDataChanged" and "DeviceStatusChanged",
// the same objects with "deviceId" added. "FollowedDevicesChanged" carries the
// "ListFollowedDevices" answer (without "ok") when a device is followed or unfollowed, once
// the change is whole (one for a device made main and the former main one followed).
// A device's updates cost work here only while this object exists, that is while
// obs-websocket is there to take the events.
class RemoteEvents : public QObject {
public:
    using Emit = std::function<void(const char *name, const QByteArray &json)>;

    RemoteEvents(App &app, Emit emit, QObject *parent = nullptr);

private:
    void watch(const QString &deviceId);
    void unwatch(const QString &deviceId);
    void deviceLiveChanged(const QString &deviceId);
    void deviceStatusChanged(const QString &deviceId);
    void devicesChanged();
    void send(const char *name, const QJsonObject &object);

    App &m_app;
    Emit m_emit;
    QHash<QString, QList<QMetaObject::Connection>> m_watched;
    bool m_listPending = false;
};

} // namespace corvane
