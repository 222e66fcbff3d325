#include "app/FollowedDevice.h"

#include "base/Log.h"
#include "live/SourceManager.h"

namespace corvane {

namespace {

// How each kind of route runs.
struct Runner {
    FollowedRoute::Kind kind;
    bool (FollowedDevice::*start)();
};

} // namespace

FollowedDevice::FollowedDevice(const FollowedRoute &route, PortalClient *portal, QObject *parent)
    : QObject(parent)
    , m_route(route)
    , m_data(DeviceLive::create())
    , m_manager(new SourceManager(portal, &m_data->live(), this))
{
    connect(m_manager, &SourceManager::lanCertificatePinned, this,
            [this](const QString &, const QString &sha256) { Q_EMIT certificatePinned(sha256); });
}

// The manager goes first: it feeds the live data, which readers may still hold.
FollowedDevice::~FollowedDevice() { delete m_manager; }

bool FollowedDevice::start()
{
    static const Runner runners[] = {
        {FollowedRoute::Cloud, &FollowedDevice::startCloud},
        {FollowedRoute::Lan, &FollowedDevice::startLan},
        {FollowedRoute::Usb, &FollowedDevice::startUnsupported},
        {FollowedRoute::Ble, &FollowedDevice::startUnsupported},
    };
    for (const Runner &runner : runners) {
        if (runner.kind == m_route.kind)
            return (this->*runner.start)();
    }
    return false;
}

void FollowedDevice::stop() { m_manager->stop(); }

bool FollowedDevice::startCloud()
{
    m_manager->useCloud(m_route.deviceId);
    return true;
}

bool FollowedDevice::startLan()
{
    m_manager->useLan(m_route.deviceId, m_route.lan);
    return true;
}

bool FollowedDevice::startUnsupported()
{
    CORVANE_LOG_WARNING("following %s over %s is not available yet; it stays idle", qUtf8Printable(m_route.deviceId),
                        qUtf8Printable(FollowedRoute::kindName(m_route.kind)));
    return false;
}

} // namespace corvane
