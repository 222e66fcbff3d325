#include "BleOperations.h"

#include "HelperProtocol.h"

#include <chrono>
#include <thread>
#include <utility>

namespace corvane::helper {

namespace {

std::string gattCode(GattStatus status, const char *otherwise)
{
    return status == GattStatus::AccessDenied ? "not_paired" : otherwise;
}

} // namespace

BleOperations::BleOperations(BlePlatform &platform, SendLine send)
    : m_platform(platform)
    , m_send(std::move(send))
{
}

BleOperations::~BleOperations() = default;

void BleOperations::replyOk(std::int64_t reqId, const std::string &result)
{
    m_send(okLine(reqId, result));
}

void BleOperations::replyError(std::int64_t reqId, const std::string &code, const std::string &message)
{
    m_send(errorLine(reqId, code, message));
}

bool BleOperations::handleLine(const std::string &line)
{
    const std::int64_t reqId = fieldInt(line, "reqId", -1);
    const std::string op = fieldString(line, "op");
    if (op == "start") {
        doStart(reqId);
    } else if (op == "scan") {
        doScan(reqId, fieldInt(line, "ms", 6000));
    } else if (op == "connect") {
        doConnect(reqId, fieldString(line, "id"));
    } else if (op == "write") {
        doWrite(reqId, fieldString(line, "b64"));
    } else if (op == "disconnect") {
        resetConnection();
        replyOk(reqId, "{}");
    } else if (op == "quit") {
        return false;
    } else {
        replyError(reqId, "unknown_op", "unknown request");
    }
    return true;
}

void BleOperations::doStart(std::int64_t reqId)
{
    BlePlatform::Adapter state = BlePlatform::Adapter::Missing;
    const Step step = m_platform.adapter(&state);
    if (!step.ok)
        return replyError(reqId, "bluetooth_unavailable", step.error);
    switch (state) {
    case BlePlatform::Adapter::Missing:
        return replyError(reqId, "bluetooth_unavailable", "No Bluetooth adapter was found on this computer.");
    case BlePlatform::Adapter::NoLowEnergy:
        return replyError(reqId, "bluetooth_unavailable", "This computer's Bluetooth does not support Bluetooth LE.");
    case BlePlatform::Adapter::RadioOff:
        return replyError(reqId, "bluetooth_unavailable", "Bluetooth is turned off. Turn it on and try again.");
    case BlePlatform::Adapter::Ready:
        break;
    }
    replyOk(reqId, "{}");
}

void BleOperations::doScan(std::int64_t reqId, std::int64_t ms)
{
    const int duration = clampScanMs(ms);
    auto book = std::make_shared<ScanBook>();
    const Step started = m_platform.startScan([book](const Advertisement &ad) {
        std::lock_guard<std::mutex> guard(book->lock);
        if (!book->open)
            return;
        book->seen.insert(ad.address);
        if (!advertisementMatches(ad.localName, ad.serviceUuids))
            return;
        const std::string id = deviceIdText(ad.address);
        book->signal[id] = ad.rssi;
        if (!ad.localName.empty())
            book->names[id] = ad.localName;
    });
    if (!started.ok) {
        m_platform.stopScan();
        return replyError(reqId, "ble_error", started.error);
    }
    if (m_scanWait)
        m_scanWait(duration);
    else
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(duration));
    const Step stopped = m_platform.stopScan();
    const std::string result = scanResult(*book);
    if (!stopped.ok)
        return replyError(reqId, "ble_error", stopped.error);
    replyOk(reqId, result);
}

std::string BleOperations::scanResult(ScanBook &book)
{
    std::lock_guard<std::mutex> guard(book.lock);
    book.open = false;
    std::string out = "{\"devices\":[";
    bool first = true;
    for (const auto &[id, rssi] : book.signal) {
        if (!first)
            out += ',';
        first = false;
        const auto name = book.names.find(id);
        out += "{\"id\":\"" + id + "\",\"name\":\"" + escapeJson(name == book.names.end() ? std::string() : name->second)
            + "\",\"rssi\":" + std::to_string(rssi) + '}';
    }
    out += "],\"seen\":" + std::to_string(book.seen.size()) + '}';
    return out;
}

void BleOperations::doConnect(std::int64_t reqId, const std::string &id)
{
    resetConnection();
    bool found = false;
    Step step = m_platform.openDevice(parseDeviceAddress(id), &found);
    if (!step.ok)
        return replyError(reqId, "ble_error", step.error);
    if (!found)
        return replyError(reqId, "not_found", notFoundText());

    GattStatus status = GattStatus::Success;
    int count = 0;
    step = m_platform.findService(std::string(kServiceUuid), &status, &count);
    if (!step.ok)
        return replyError(reqId, "ble_error", step.error);
    if (status != GattStatus::Success || count == 0)
        return replyError(reqId, gattCode(status, "not_corvane"), noServiceText());

    int writeCount = 0;
    int notifyCount = 0;
    step = m_platform.findCharacteristic(std::string(kWriteUuid), &status, &writeCount);
    if (step.ok)
        step = m_platform.findCharacteristic(std::string(kNotifyUuid), &status, &notifyCount);
    if (!step.ok)
        return replyError(reqId, "ble_error", step.error);
    if (writeCount == 0 || notifyCount == 0)
        return replyError(reqId, "not_corvane", noCharacteristicsText());
    m_holdsCharacteristics = true;

    const SendLine send = m_send;
    m_platform.watch([send](const std::string &value) { send(dataEventLine(value)); },
                     [send] { send(std::string(disconnectedEventLine())); });

    step = m_platform.subscribe(&status);
    if (!step.ok)
        return replyError(reqId, "ble_error", step.error);
    if (status != GattStatus::Success) {
        replyError(reqId, gattCode(status, "ble_error"), subscribeText());
        resetConnection();
        return;
    }

    int pdu = 0;
    const int payload = writePayloadForPdu(m_platform.maxPduSize(&pdu).ok ? std::optional<int>(pdu) : std::nullopt);
    m_connected = true;
    replyOk(reqId, "{\"writePayload\":" + std::to_string(payload) + ",\"pipe\":false}");
}

void BleOperations::doWrite(std::int64_t reqId, const std::string &b64)
{
    if (!m_connected || !m_holdsCharacteristics)
        return replyError(reqId, "disconnected", "Not connected");
    std::string bytes;
    if (!decodeBase64(b64, &bytes))
        return replyError(reqId, "ble_error", "The data to write is not valid Base64.");
    GattStatus status = GattStatus::Success;
    const Step step = m_platform.write(bytes, &status);
    if (!step.ok)
        return replyError(reqId, "ble_error", step.error);
    if (status != GattStatus::Success)
        return replyError(reqId, gattCode(status, "ble_error"), refusedText());
    replyOk(reqId, "{}");
}

void BleOperations::resetConnection()
{
    m_platform.release();
    m_connected = false;
    m_holdsCharacteristics = false;
}

} // namespace corvane::helper
