#include "app/BluetoothRoute.h"

#include "base/Log.h"
#include "cloud/PortalClient.h"
#include "device/ble/BleBridge.h"
#include "device/ble/BleLink.h"
#include "live/SourceManager.h"

#include <QTimer>

namespace corvane {

BluetoothRoute::BluetoothRoute(const FollowedRoute &route, PortalClient *portal, SourceManager *manager,
                               QObject *helperKeeper, QObject *parent)
    : QObject(parent)
    , m_route(route)
    , m_portal(portal)
    , m_manager(manager)
    , m_bridge(new BleBridge(this))
    , m_helperKeeper(helperKeeper)
    , m_reconnect(new QTimer(this))
{
    m_reconnect->setSingleShot(true);
    connect(m_reconnect, &QTimer::timeout, this, &BluetoothRoute::connectNow);
    connect(m_portal, &PortalClient::signedInChanged, this, &BluetoothRoute::onSignedInChanged);
}

// The session's link still names the bridge: it goes first.
BluetoothRoute::~BluetoothRoute()
{
    stop();
    delete m_session.data();
}

void BluetoothRoute::start()
{
    auto *session = new DeviceSession(new BleLink(m_route.bleAddress, m_route.label(), m_bridge), this);
    m_session = session;
    connect(session, &DeviceSession::stateChanged, this,
            [this](DeviceSession::State state, const QString &) { onStateChanged(state); });
    m_manager->useDevice(session, m_route.label(), true);
    // Not at once: the module hands the bridges the helper's path after restoring the
    // followed devices.
    m_reconnect->start(0);
}

void BluetoothRoute::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_reconnect->stop();
    m_portal->disconnect(this);
    if (DeviceSession *session = m_session.data()) {
        session->disconnect(this);
        session->close();
    }
    // A helper busy in a scan or hung would hold the interface thread up for its whole wait.
    if (QObject *keeper = m_helperKeeper.data())
        m_bridge->stopWithoutWaiting(keeper);
    else
        m_bridge->stop();
}

void BluetoothRoute::connectNow()
{
    DeviceSession *session = m_session.data();
    if (m_stopped || !session)
        return;
    m_bridge->setHelperPath(BleBridge::instance()->helperPath());
    session->start();
}

void BluetoothRoute::onStateChanged(DeviceSession::State state)
{
    switch (state) {
    case DeviceSession::Lost:
    case DeviceSession::Error:
    case DeviceSession::Restarting:
        if (!m_stopped)
            m_reconnect->start(m_reconnectDelayMs);
        break;
    case DeviceSession::NeedsPassword:
        askAccountForPassword();
        break;
    default:
        break;
    }
}

void BluetoothRoute::askAccountForPassword()
{
    if (m_asking || !m_portal->isSignedIn())
        return;
    m_asking = true;
    const QPointer<BluetoothRoute> self(this);
    m_portal->revealPairing(m_route.deviceId, [self](const PortalResult &result) {
        BluetoothRoute *route = self.data();
        if (!route)
            return;
        route->m_asking = false;
        DeviceSession *session = route->m_session.data();
        const QString password =
            result.data.value(QLatin1String("pairing")).toObject().value(QLatin1String("admin_password")).toString();
        if (route->m_stopped || !session || session->state() != DeviceSession::NeedsPassword || password.isEmpty()
            || password == route->m_triedPassword)
            return;
        route->m_triedPassword = password;
        CORVANE_LOG_INFO("followed device %s: signing in with the password its account keeps",
                         qUtf8Printable(route->m_route.deviceId));
        session->submitPassword(password);
    });
}

void BluetoothRoute::onSignedInChanged(bool signedIn)
{
    m_triedPassword.clear();
    DeviceSession *session = m_session.data();
    if (signedIn && session && session->state() == DeviceSession::NeedsPassword)
        askAccountForPassword();
}

} // namespace corvane
