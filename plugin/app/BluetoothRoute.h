#pragma once

#include "base/FollowedRoute.h"
#include "device/DeviceSession.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QTimer;

namespace corvane {

class BleBridge;
class PortalClient;
class SourceManager;

// A followed device over Bluetooth LE: a helper process of its own (the helper holds one
// connection), a signed-in session that polls the device's state through it, as the setup
// wizard's does, and a new connection after every loss. The device's admin password is the
// factory one or the one its account keeps; a refused password is not tried again until the
// sign-in changes, so that the device does not lock itself.
class BluetoothRoute : public QObject {
    Q_OBJECT
public:
    static constexpr int kReconnectDelayMs = 3000;

    // Feeds `manager`, which must outlive the route's running (stop() before it goes). The
    // helper's end is not waited for: its process goes to `helperKeeper` (see BleBridge).
    BluetoothRoute(const FollowedRoute &route, PortalClient *portal, SourceManager *manager, QObject *helperKeeper,
                   QObject *parent = nullptr);
    ~BluetoothRoute() override;

    void start();
    // Ends the connection and the helper; the route does not run again.
    void stop();

    BleBridge *bridge() const { return m_bridge; }
    DeviceSession *session() const { return m_session; }

    // Test seam: the pause before a new connection after a loss.
    void setReconnectDelayForTests(int ms) { m_reconnectDelayMs = ms; }

private:
    void connectNow();
    void onStateChanged(DeviceSession::State state);
    void askAccountForPassword();
    void onSignedInChanged(bool signedIn);

    FollowedRoute m_route;
    PortalClient *m_portal;
    SourceManager *m_manager;
    BleBridge *m_bridge;
    QPointer<QObject> m_helperKeeper;
    QPointer<DeviceSession> m_session;
    QTimer *m_reconnect;
    QString m_triedPassword; // the account's, last tried: a refusal is not repeated
    bool m_asking = false;
    bool m_stopped = false;
    int m_reconnectDelayMs = kReconnectDelayMs;
};

} // namespace corvane
