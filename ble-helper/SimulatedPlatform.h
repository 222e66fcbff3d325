#pragma once

#include "BlePlatform.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace corvane::helper {

// Bluetooth LE played by a simulated peripheral (corvane-devsim --ble-port) over a loopback
// TCP connection that stands for the air. Requests are numbered lines answered by
// "<n> OK ..." or "<n> ERR <text>"; advertisements ("ADV"), notifications ("NOTIFY") and link
// loss ("LOST") arrive at any time and reach the callbacks on the reader thread, as a radio
// stack's callbacks arrive on threads of its own.
class SimulatedPlatform : public BlePlatform {
public:
    SimulatedPlatform(std::string host, int port);
    ~SimulatedPlatform() override;

    // "127.0.0.1:PORT" (or localhost / [::1]) parsed into host and port; false for anything
    // that is not a loopback address.
    static bool parseAddress(const std::string &text, std::string *host, int *port);

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
    Step ensureConnected();
    Step call(const std::string &request, int timeoutMs, std::string *answer);
    Step callStatus(const std::string &request, int timeoutMs, GattStatus *status, int *count);
    void readLoop();
    void dispatch(const std::string &line);

    std::string m_host;
    int m_port;
    int m_fd = -1;
    std::thread m_reader;

    std::mutex m_callLock; // one request at a time
    std::mutex m_stateLock;
    std::condition_variable m_answered;
    std::uint64_t m_nextRequest = 1;
    std::uint64_t m_waitingFor = 0;
    bool m_hasAnswer = false;
    std::string m_answer;
    bool m_linkDown = false;

    std::mutex m_handlerLock;
    AdvertisementHandler m_onAdvertisement;
    ValueHandler m_onValue;
    LinkLostHandler m_onLinkLost;
};

} // namespace corvane::helper
