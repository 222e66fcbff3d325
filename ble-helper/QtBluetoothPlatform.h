#pragma once

#include "BlePlatform.h"

#include <QBluetoothUuid>
#include <QList>
#include <QLowEnergyCharacteristic>
#include <QMetaObject>
#include <QPointer>

#include <functional>
#include <memory>

class QBluetoothDeviceDiscoveryAgent;
class QLowEnergyController;
class QLowEnergyService;
class QObject;
class QThread;

namespace corvane::helper {

// Bluetooth LE through Qt Bluetooth (BlueZ on Linux, the system stacks on Windows and
// macOS). Qt's objects live on a platform thread of their own with its own event loop: the
// request loop hands each step over to it and waits for the matching signal, at most for
// the step's bound, while notifications and link loss reach their callbacks from there.
class QtBluetoothPlatform : public BlePlatform {
public:
    QtBluetoothPlatform();
    ~QtBluetoothPlatform() override;

    Step adapter(Adapter *state) override;
    Step startScan(AdvertisementHandler handler) override;
    Step stopScan() override;
    Step openDevice(std::uint64_t address, bool *found) override;
    Step findService(const std::string &uuid, GattStatus *status, int *count) override;
    Step findCharacteristic(const std::string &uuid, GattStatus *status, int *count) override;
    void watch(ValueHandler onValue, LinkLostHandler onLinkLost) override;
    Step subscribe(GattStatus *status) override;
    Step maxPduSize(int *size) override;
    Step write(const std::string &bytes, GattStatus *status) override;
    void release() override;

private:
    struct Outcome {
        Step step;
        GattStatus status = GattStatus::Success;
        int value = 0;
    };
    // Finishes one step at most once; later calls are ignored.
    using Finish = std::function<void(const Outcome &outcome)>;
    // Runs `begin` on the platform thread with a context object that lives until the step
    // finishes (connect the step's signals to it) and waits for the step, at most `ms`.
    Outcome run(int ms, const std::function<void(QObject *context, const Finish &finish)> &begin);
    void releaseOnPlatform();

    QThread *m_thread;
    QObject *m_home; // lives on m_thread; parent of every Qt Bluetooth object
    // Touched only on the platform thread:
    QBluetoothDeviceDiscoveryAgent *m_agent = nullptr;
    QLowEnergyController *m_controller = nullptr;
    QLowEnergyService *m_service = nullptr;
    QLowEnergyCharacteristic m_write;
    QLowEnergyCharacteristic m_notify;
    QList<QMetaObject::Connection> m_watches;
};

} // namespace corvane::helper
