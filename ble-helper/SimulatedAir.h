#pragma once

#include "BlePlatform.h"
#include "SimulatedPlatform.h"

#include <memory>
#include <string>
#include <vector>

namespace corvane::helper {

// One computer's radio hearing several simulated peripherals at once, each a
// corvane-devsim of its own (CORVANE_BLE_SIM lists them, comma-separated): a scan hears
// them all, and a device is opened on whichever peripheral answers for its address, which
// then serves the connection's steps until it is released.
class SimulatedAir : public BlePlatform {
public:
    // Every entry of the list parsed as SimulatedPlatform::parseAddress takes it; false
    // (nothing kept) when one of them is not a loopback address or the list is empty.
    bool parse(const std::string &list);
    std::size_t size() const { return m_peripherals.size(); }

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
    // The peripheral holding the opened device; the first one before any was found, whose
    // answers then say that nothing is open.
    SimulatedPlatform &held();

    std::vector<std::unique_ptr<SimulatedPlatform>> m_peripherals;
    std::size_t m_held = 0;
};

} // namespace corvane::helper
