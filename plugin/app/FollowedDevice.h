#pragma once

#include "base/FollowedRoute.h"
#include "live/DeviceLive.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

namespace corvane {

class BluetoothRoute;
class PortalClient;
class SourceManager;
class UsbPortShare;

// One device followed beside the main one: its own route, live data and hold. Consumers
// bound to it connect to its live data or shown scores, so its updates reach no one else.
class FollowedDevice : public QObject {
    Q_OBJECT
public:
    // `usb` shares serial ports with the setup wizard and relays (null: USB routes stay idle);
    // `helperKeeper` holds a Bluetooth helper while it quits (see BleBridge).
    FollowedDevice(const FollowedRoute &route, PortalClient *portal, UsbPortShare *usb, QObject *helperKeeper,
                   QObject *parent = nullptr);
    ~FollowedDevice() override;

    QString id() const { return m_route.deviceId; }
    const FollowedRoute &route() const { return m_route; }
    LiveData &live() { return m_data->live(); }
    ShownScores &shown() { return m_data->shown(); }
    std::shared_ptr<DeviceLive> data() const { return m_data; }
    // Its route's status (live flag, message, source label), as the main device's.
    SourceManager *sourceManager() const { return m_manager; }
    // The Bluetooth route's helper and session; null for other kinds.
    BluetoothRoute *bluetooth() const { return m_ble; }

    // The certificate its network route met first, kept with the route from now on.
    void pinCertificate(const QString &sha256) { m_route.lan.certificateSha256 = sha256; }
    // Runs the route; false for a kind that cannot be followed yet (it stays idle).
    bool start();
    void stop();

Q_SIGNALS:
    // A network route stored without a pin met this certificate first.
    void certificatePinned(const QString &sha256);

private:
    bool startCloud();
    bool startLan();
    bool startUsb();
    void bindUsbLink(const QString &port);
    bool startBle();
    bool startUnsupported();

    FollowedRoute m_route;
    std::shared_ptr<DeviceLive> m_data;
    PortalClient *m_portal;
    SourceManager *m_manager;
    QPointer<UsbPortShare> m_usb;
    QObject *m_helperKeeper;
    BluetoothRoute *m_ble = nullptr;
    bool m_listening = false;
};

} // namespace corvane
