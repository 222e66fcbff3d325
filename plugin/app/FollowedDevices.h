#pragma once

#include "base/FollowedRoute.h"
#include "live/DeviceLive.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <utility>

namespace corvane {

class FollowedDevice;
class PortalClient;
class SettingsStore;
class UsbPortShare;

// The devices followed beside the main one, each running its own route at once, kept in
// settings.json. A device is followed at most once. User-interface thread, except dataOf.
class FollowedDevices : public QObject {
    Q_OBJECT
public:
    FollowedDevices(PortalClient *portal, SettingsStore *settings, UsbPortShare *usb, QObject *parent = nullptr);
    ~FollowedDevices() override;

    // Follows what the settings list; each entry it cannot read is logged and skipped.
    void restore();
    // Stores the route and runs it; false (nothing changes) for an empty id or a device
    // followed already.
    bool follow(const FollowedRoute &route);
    // Stops the device's route and forgets it; readers still holding its data keep it.
    bool unfollow(const QString &deviceId);

    bool contains(const QString &deviceId) const { return device(deviceId) != nullptr; }
    FollowedDevice *device(const QString &deviceId) const;
    QStringList ids() const;

    // Any thread: the device's live data and shown scores, or null when not followed.
    std::shared_ptr<DeviceLive> dataOf(const QString &deviceId) const;
    // Any thread (OBS asks for a source's properties on its own): each device's id and
    // label, in the order followed.
    QList<std::pair<QString, QString>> labels() const;

Q_SIGNALS:
    void followed(const QString &deviceId);
    void unfollowed(const QString &deviceId);

private:
    void add(const FollowedRoute &route);
    void onCertificatePinned(const QString &deviceId, const QString &sha256);

    PortalClient *m_portal;
    SettingsStore *m_settings;
    UsbPortShare *m_usb;
    QObject *m_quittingHelpers; // Bluetooth helpers of devices gone, until they have ended
    QList<FollowedDevice *> m_devices; // in the order followed
    mutable std::mutex m_lock;
    QHash<QString, std::shared_ptr<DeviceLive>> m_data; // guarded by m_lock
    QList<std::pair<QString, QString>> m_labels;        // guarded by m_lock
};

} // namespace corvane
