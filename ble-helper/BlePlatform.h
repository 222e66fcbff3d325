#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvane::helper {

// What a device answered to one GATT step.
enum class GattStatus { Success, Unreachable, ProtocolError, AccessDenied };

struct Advertisement {
    std::uint64_t address = 0;
    int rssi = 0;
    std::string localName; // UTF-8; empty when none was advertised
    std::vector<std::string> serviceUuids;
};

// How one platform call ended: `ok`, or a failure of the platform itself with its own text.
struct Step {
    bool ok = true;
    std::string error;

    static Step failure(std::string text) { return Step{false, std::move(text)}; }
};

// The few Bluetooth LE operations the helper needs, one connection at a time. Every call
// returns within its bound below: a platform that has not answered by then fails the step
// with timedOutText(), so that one stuck call cannot hold every later request for ever.
// Callbacks registered here run on a platform thread of the implementation.
class BlePlatform {
public:
    enum class Adapter { Ready, Missing, NoLowEnergy, RadioOff };
    using AdvertisementHandler = std::function<void(const Advertisement &advertisement)>;
    using ValueHandler = std::function<void(const std::string &value)>;
    using LinkLostHandler = std::function<void()>;

    // Bounds of one platform call, in ms, by the request it serves. A step may wait for the
    // user (pairing asks for the passkey during service discovery), so each bound is longer
    // than the plugin's own deadline for that request (start 30 s, scan at most 30 s + 15 s,
    // connect 150 s, write 15 s, disconnect 8 s): the user meets the plugin's time-out, and
    // the bound only frees the helper for later requests.
    static constexpr int kAdapterMs = 35000;
    static constexpr int kScanStepMs = 50000;
    static constexpr int kConnectStepMs = 160000;
    static constexpr int kWriteMs = 20000;
    static constexpr int kReleaseMs = 10000;

    static std::string timedOutText() { return "The Bluetooth system did not answer in time."; }

    virtual ~BlePlatform() = default;

    virtual Step adapter(Adapter *state) = 0;

    // Active scanning until stopScan; the handler may still run shortly after stopScan.
    virtual Step startScan(AdvertisementHandler handler) = 0;
    virtual Step stopScan() = 0;

    // Finds the device at an address (replacing any held); `found` false when it cannot be
    // reached.
    virtual Step openDevice(std::uint64_t address, bool *found) = 0;
    // Looks up the service on the device, uncached; `count` services were listed.
    virtual Step findService(const std::string &uuid, GattStatus *status, int *count) = 0;
    // Looks up a characteristic of that service, uncached; the first one listed is kept
    // for the role its UUID plays (write or notify).
    virtual Step findCharacteristic(const std::string &uuid, GattStatus *status, int *count) = 0;
    // Registers the notification and connection-loss callbacks on the held objects.
    virtual void watch(ValueHandler onValue, LinkLostHandler onLinkLost) = 0;
    // Writes the notify characteristic's configuration descriptor to Notify.
    virtual Step subscribe(GattStatus *status) = 0;
    // The link's maximum PDU size.
    virtual Step maxPduSize(int *size) = 0;
    // Write with response to the write characteristic.
    virtual Step write(const std::string &bytes, GattStatus *status) = 0;
    // Unregisters the callbacks and releases every held object.
    virtual void release() = 0;
};

} // namespace corvane::helper
