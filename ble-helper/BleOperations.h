#pragma once

#include "BlePlatform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace corvane::helper {

// The helper's requests over one BlePlatform: each request line gets exactly one reply
// line (quit none), and notifications and link loss become event lines from the platform's
// threads. Lines leave through `send`, which must keep each line whole.
class BleOperations {
public:
    using SendLine = std::function<void(const std::string &line)>;
    // Lets a scan run for its duration; by default the calling thread sleeps.
    using ScanWait = std::function<void(int ms)>;

    BleOperations(BlePlatform &platform, SendLine send);
    ~BleOperations();

    // Test seam: records or shortens the scan's wait instead of sleeping through it.
    void setScanWaitForTesting(ScanWait wait) { m_scanWait = std::move(wait); }

    // Handles one request line; false when it asked the helper to quit.
    bool handleLine(const std::string &line);

    void doStart(std::int64_t reqId);
    void doScan(std::int64_t reqId, std::int64_t ms);
    void doConnect(std::int64_t reqId, const std::string &id);
    void doWrite(std::int64_t reqId, const std::string &b64);
    void resetConnection();

    static std::string notFoundText() { return "That device is not in range. Scan again and pick it from the list."; }
    static std::string noServiceText() { return "The device did not expose the Corvane service. Pair it in Windows Bluetooth settings first."; }
    static std::string noCharacteristicsText() { return "The device did not expose the Corvane service."; }
    static std::string subscribeText() { return "Could not subscribe to the device. Make sure it is paired in Windows Bluetooth settings."; }
    static std::string refusedText() { return "The device refused the request."; }

private:
    // One scan's bookkeeping. Advertisement callbacks hold it through a shared pointer and
    // touch it only while `open`, so a late callback after the scan cannot reach it.
    struct ScanBook {
        std::mutex lock;
        bool open = true;
        std::set<std::uint64_t> seen;
        std::map<std::string, int> signal;
        std::map<std::string, std::string> names;
    };

    void replyOk(std::int64_t reqId, const std::string &result);
    void replyError(std::int64_t reqId, const std::string &code, const std::string &message);
    static std::string scanResult(ScanBook &book);

    BlePlatform &m_platform;
    SendLine m_send;
    ScanWait m_scanWait;
    bool m_connected = false;
    bool m_holdsCharacteristics = false;
};

} // namespace corvane::helper
