#include "app/FollowedDevice.h"

#include "app/BluetoothRoute.h"
#include "app/UsbPortShare.h"
#include "base/Log.h"
#include "device/usb/UsbLink.h"
#include "live/SourceManager.h"

namespace corvane {

namespace {

// How each kind of route runs.
struct Runner {
    FollowedRoute::Kind kind;
    bool (FollowedDevice::*start)();
};

} // namespace

FollowedDevice::FollowedDevice(const FollowedRoute &route, PortalClient *portal, UsbPortShare *usb, QObject *helperKeeper,
                               QObject *parent)
    : QObject(parent)
    , m_route(route)
    , m_data(DeviceLive::create())
    , m_portal(portal)
    , m_manager(new SourceManager(portal, &m_data->live(), this))
    , m_usb(usb)
    , m_helperKeeper(helperKeeper)
{
    connect(m_manager, &SourceManager::lanCertificatePinned, this,
            [this](const QString &, const QString &sha256) { Q_EMIT certificatePinned(sha256); });
}

// The manager goes first: it feeds the live data, which readers may still hold.
FollowedDevice::~FollowedDevice()
{
    stop();
    delete m_manager;
}

bool FollowedDevice::start()
{
    static const Runner runners[] = {
        {FollowedRoute::Cloud, &FollowedDevice::startCloud},
        {FollowedRoute::Lan, &FollowedDevice::startLan},
        {FollowedRoute::Usb, &FollowedDevice::startUsb},
        {FollowedRoute::Ble, &FollowedDevice::startBle},
    };
    for (const Runner &runner : runners) {
        if (runner.kind == m_route.kind)
            return (this->*runner.start)();
    }
    return false;
}

void FollowedDevice::stop()
{
    m_manager->stop();
    if (m_ble)
        m_ble->stop();
    if (m_listening && m_usb) {
        m_usb->disconnect(this);
        m_usb->stopListening(m_route.usbPort);
    }
    m_listening = false;
}

bool FollowedDevice::startCloud()
{
    m_manager->useCloud(m_route.deviceId, m_route.name);
    return true;
}

bool FollowedDevice::startLan()
{
    m_manager->useLan(m_route.deviceId, m_route.lan);
    return true;
}

bool FollowedDevice::startUsb()
{
    if (!m_usb)
        return startUnsupported();
    const QString port = m_route.usbPort;
    connect(m_usb, &UsbPortShare::linkChanged, this, [this, port](const QString &changed) {
        if (changed == port)
            bindUsbLink(port);
    });
    m_listening = true;
    m_usb->listen(port);
    bindUsbLink(port);
    return true;
}

// Whichever link has the port now: a change of owner restarts the route on the new one.
void FollowedDevice::bindUsbLink(const QString &port)
{
    UsbLink *link = m_usb ? m_usb->linkOn(port) : nullptr;
    m_manager->useLink(m_route.deviceId, link, m_route.label());
}

bool FollowedDevice::startBle()
{
    delete m_ble;
    m_ble = new BluetoothRoute(m_route, m_portal, m_manager, m_helperKeeper, this);
    m_ble->start();
    return true;
}

bool FollowedDevice::startUnsupported()
{
    CORVANE_LOG_WARNING("following %s over %s is not available yet; it stays idle", qUtf8Printable(m_route.deviceId),
                        qUtf8Printable(FollowedRoute::kindName(m_route.kind)));
    return false;
}

} // namespace corvane
