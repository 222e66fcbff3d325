#include "app/FollowedDevices.h"

#include "app/FollowedDevice.h"
#include "base/Log.h"
#include "base/SettingsStore.h"
#include "device/ble/BleBridge.h"

namespace corvane {

FollowedDevices::FollowedDevices(PortalClient *portal, SettingsStore *settings, UsbPortShare *usb, QObject *parent)
    : QObject(parent)
    , m_portal(portal)
    , m_settings(settings)
    , m_usb(usb)
    , m_quittingHelpers(new QObject(this))
{
}

FollowedDevices::~FollowedDevices()
{
    // Routes end before anything they feed; those unfollowed and not yet deleted are
    // children too.
    qDeleteAll(m_devices);
    BleBridge::endQuitting(m_quittingHelpers);
}

void FollowedDevices::restore()
{
    QStringList refused;
    const QList<FollowedRoute> routes = m_settings->followedRoutes(&refused);
    for (const QString &reason : std::as_const(refused))
        CORVANE_LOG_WARNING("settings.json: a followed device is ignored: %s", qUtf8Printable(reason));
    for (const FollowedRoute &route : routes) {
        if (!contains(route.deviceId))
            add(route);
    }
}

bool FollowedDevices::follow(const FollowedRoute &route)
{
    if (route.deviceId.isEmpty() || contains(route.deviceId))
        return false;
    m_settings->setFollowedRoute(route);
    add(route);
    return true;
}

void FollowedDevices::add(const FollowedRoute &route)
{
    auto *device = new FollowedDevice(route, m_portal, m_usb, m_quittingHelpers, this);
    const QString id = route.deviceId;
    connect(device, &FollowedDevice::certificatePinned, this,
            [this, id](const QString &sha256) { onCertificatePinned(id, sha256); });
    m_devices.append(device);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_data.insert(id, device->data());
        m_labels.append({id, route.label()});
    }
    device->start();
    Q_EMIT followed(id);
}

bool FollowedDevices::unfollow(const QString &deviceId)
{
    FollowedDevice *device = this->device(deviceId);
    if (!device)
        return false;
    m_devices.removeOne(device);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_data.remove(deviceId);
        m_labels.removeIf([&deviceId](const std::pair<QString, QString> &entry) { return entry.first == deviceId; });
    }
    m_settings->removeFollowedRoute(deviceId);
    // Stopped now, deleted later: a caller may be inside one of the route's own signals.
    device->stop();
    device->disconnect(this);
    device->deleteLater();
    Q_EMIT unfollowed(deviceId);
    return true;
}

FollowedDevice *FollowedDevices::device(const QString &deviceId) const
{
    for (FollowedDevice *device : m_devices) {
        if (device->id() == deviceId)
            return device;
    }
    return nullptr;
}

QStringList FollowedDevices::ids() const
{
    QStringList list;
    for (const FollowedDevice *device : m_devices)
        list.append(device->id());
    return list;
}

std::shared_ptr<DeviceLive> FollowedDevices::dataOf(const QString &deviceId) const
{
    const std::lock_guard<std::mutex> readerGuard(m_lock);
    return m_data.value(deviceId);
}

QList<std::pair<QString, QString>> FollowedDevices::labels() const
{
    // A list of its own, not a shared one: an edit here decides whether to copy the shared
    // list from a relaxed count, which does not order it after the other thread's reads.
    const std::lock_guard<std::mutex> readerGuard(m_lock);
    return QList<std::pair<QString, QString>>(m_labels.cbegin(), m_labels.cend());
}

void FollowedDevices::onCertificatePinned(const QString &deviceId, const QString &sha256)
{
    FollowedDevice *device = this->device(deviceId);
    if (!device || sha256.isEmpty() || !device->route().lan.certificateSha256.isEmpty())
        return;
    FollowedRoute pinned = device->route();
    pinned.lan.certificateSha256 = sha256;
    m_settings->setFollowedRoute(pinned);
    device->pinCertificate(sha256);
}

} // namespace corvane
