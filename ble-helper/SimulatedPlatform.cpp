#include "SimulatedPlatform.h"

#include "HelperProtocol.h"
#include "LineBuffer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::helper {

namespace {

bool parseStatus(const std::string &word, GattStatus *status)
{
    static const struct {
        const char *name;
        GattStatus status;
    } table[] = {
        {"Success", GattStatus::Success},
        {"Unreachable", GattStatus::Unreachable},
        {"ProtocolError", GattStatus::ProtocolError},
        {"AccessDenied", GattStatus::AccessDenied},
    };
    for (const auto &entry : table) {
        if (word == entry.name) {
            *status = entry.status;
            return true;
        }
    }
    return false;
}

Step malformed(const std::string &answer)
{
    return Step::failure("The simulated peripheral answered \"" + answer + "\".");
}

} // namespace

SimulatedPlatform::SimulatedPlatform(std::string host, int port)
    : m_host(std::move(host))
    , m_port(port)
{
}

SimulatedPlatform::~SimulatedPlatform()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
    if (m_reader.joinable())
        m_reader.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SimulatedPlatform::parseAddress(const std::string &text, std::string *host, int *port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string name = text.substr(0, colon);
    if (name == "localhost")
        name = "127.0.0.1";
    if (name == "[::1]")
        name = "::1";
    in_addr v4{};
    in6_addr v6{};
    const bool loopback = (inet_pton(AF_INET, name.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127)
        || (inet_pton(AF_INET6, name.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6));
    const long value = std::atol(text.c_str() + colon + 1);
    if (!loopback || value <= 0 || value > 65535)
        return false;
    *host = name;
    *port = int(value);
    return true;
}

Step SimulatedPlatform::ensureConnected()
{
    if (m_fd >= 0)
        return {};
    const bool v6 = m_host.find(':') != std::string::npos;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int connected = -1;
    if (v6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(static_cast<unsigned short>(m_port));
        inet_pton(AF_INET6, m_host.c_str(), &address.sin6_addr);
        connected = fd < 0 ? -1 : ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<unsigned short>(m_port));
        inet_pton(AF_INET, m_host.c_str(), &address.sin_addr);
        connected = fd < 0 ? -1 : ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    }
    if (connected != 0) {
        if (fd >= 0)
            ::close(fd);
        return Step::failure("The simulated Bluetooth radio at " + m_host + ':' + std::to_string(m_port)
                             + " cannot be reached.");
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_fd = fd;
    m_reader = std::thread([this] { readLoop(); });
    return {};
}

void SimulatedPlatform::readLoop()
{
    LineBuffer buffer;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        buffer.append(chunk, std::size_t(n));
        std::string line;
        while (buffer.takeLine(&line))
            dispatch(line);
    }
    std::lock_guard<std::mutex> guard(m_stateLock);
    m_linkDown = true;
    m_answered.notify_all();
}

void SimulatedPlatform::dispatch(const std::string &line)
{
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (word == "ADV") {
        // ADV <address> <rssi> <uuid,uuid|-> <name...>
        std::istringstream in(rest);
        std::string address, rssi, uuids;
        in >> address >> rssi >> uuids;
        Advertisement ad;
        ad.address = parseDeviceAddress(address);
        ad.rssi = std::atoi(rssi.c_str());
        std::string name;
        std::getline(in, name);
        ad.localName = name.empty() ? name : name.substr(1);
        if (uuids != "-") {
            std::istringstream list(uuids);
            std::string uuid;
            while (std::getline(list, uuid, ','))
                ad.serviceUuids.push_back(uuid);
        }
        AdvertisementHandler handler;
        {
            std::lock_guard<std::mutex> guard(m_handlerLock);
            handler = m_onAdvertisement;
        }
        if (handler)
            handler(ad);
    } else if (word == "NOTIFY" || word == "LOST") {
        ValueHandler onValue;
        LinkLostHandler onLinkLost;
        {
            std::lock_guard<std::mutex> guard(m_handlerLock);
            onValue = m_onValue;
            onLinkLost = m_onLinkLost;
        }
        std::string value;
        if (word == "NOTIFY" && onValue && decodeBase64(rest, &value))
            onValue(value);
        else if (word == "LOST" && onLinkLost)
            onLinkLost();
    } else {
        std::lock_guard<std::mutex> guard(m_stateLock);
        if (std::strtoull(word.c_str(), nullptr, 10) != m_waitingFor || m_waitingFor == 0)
            return; // the answer to a call that gave up waiting
        m_answer = rest;
        m_hasAnswer = true;
        m_answered.notify_all();
    }
}

Step SimulatedPlatform::call(const std::string &request, int timeoutMs, std::string *answer)
{
    std::lock_guard<std::mutex> callGuard(m_callLock);
    if (Step step = ensureConnected(); !step.ok)
        return step;
    std::unique_lock<std::mutex> lock(m_stateLock);
    const std::uint64_t number = m_nextRequest++;
    m_waitingFor = number;
    m_hasAnswer = false;
    const std::string line = std::to_string(number) + ' ' + request + '\n';
    lock.unlock();
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::send(m_fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Step::failure("The simulated Bluetooth radio went away.");
        sent += std::size_t(n);
    }
    lock.lock();
    const bool answered = m_answered.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                              [this] { return m_hasAnswer || m_linkDown; });
    m_waitingFor = 0;
    if (!m_hasAnswer)
        return Step::failure(answered ? "The simulated Bluetooth radio went away." : timedOutText());
    if (m_answer.rfind("ERR ", 0) == 0)
        return Step::failure(m_answer.substr(4));
    if (m_answer.rfind("OK", 0) != 0)
        return malformed(m_answer);
    *answer = m_answer.size() > 3 ? m_answer.substr(3) : std::string();
    return {};
}

Step SimulatedPlatform::callStatus(const std::string &request, int timeoutMs, GattStatus *status, int *count)
{
    std::string answer;
    const Step step = call(request, timeoutMs, &answer);
    if (!step.ok)
        return step;
    std::istringstream in(answer);
    std::string word;
    in >> word;
    if (!parseStatus(word, status))
        return malformed(answer);
    if (count && !(in >> *count))
        return malformed(answer);
    return {};
}

Step SimulatedPlatform::adapter(Adapter *state)
{
    std::string answer;
    const Step step = call("ADAPTER", kAdapterMs, &answer);
    if (!step.ok)
        return step;
    static const struct {
        const char *word;
        Adapter state;
    } table[] = {{"READY", Adapter::Ready}, {"MISSING", Adapter::Missing}, {"NO-LE", Adapter::NoLowEnergy}, {"OFF", Adapter::RadioOff}};
    for (const auto &entry : table) {
        if (answer == entry.word) {
            *state = entry.state;
            return {};
        }
    }
    return malformed(answer);
}

Step SimulatedPlatform::startScan(AdvertisementHandler handler)
{
    {
        std::lock_guard<std::mutex> guard(m_handlerLock);
        m_onAdvertisement = std::move(handler);
    }
    std::string answer;
    return call("SCAN START", kScanStepMs, &answer);
}

Step SimulatedPlatform::stopScan()
{
    std::string answer;
    const Step step = call("SCAN STOP", kScanStepMs, &answer);
    std::lock_guard<std::mutex> guard(m_handlerLock);
    m_onAdvertisement = nullptr;
    return step;
}

Step SimulatedPlatform::openDevice(std::uint64_t address, bool *found)
{
    std::string answer;
    const Step step = call("OPEN " + deviceIdText(address), kConnectStepMs, &answer);
    if (!step.ok)
        return step;
    if (answer != "FOUND" && answer != "NONE")
        return malformed(answer);
    *found = answer == "FOUND";
    return {};
}

Step SimulatedPlatform::findService(const std::string &uuid, GattStatus *status, int *count)
{
    return callStatus("SERVICE " + uuid, kConnectStepMs, status, count);
}

Step SimulatedPlatform::findCharacteristic(const std::string &uuid, GattStatus *status, int *count)
{
    return callStatus("CHAR " + uuid, kConnectStepMs, status, count);
}

void SimulatedPlatform::watch(ValueHandler onValue, LinkLostHandler onLinkLost)
{
    std::lock_guard<std::mutex> guard(m_handlerLock);
    m_onValue = std::move(onValue);
    m_onLinkLost = std::move(onLinkLost);
}

Step SimulatedPlatform::subscribe(GattStatus *status)
{
    return callStatus("SUBSCRIBE", kConnectStepMs, status, nullptr);
}

Step SimulatedPlatform::maxPduSize(int *size)
{
    std::string answer;
    const Step step = call("PDU", kConnectStepMs, &answer);
    if (!step.ok)
        return step;
    *size = std::atoi(answer.c_str());
    return {};
}

Step SimulatedPlatform::write(const std::string &bytes, GattStatus *status)
{
    return callStatus("WRITE " + encodeBase64(bytes), kWriteMs, status, nullptr);
}

void SimulatedPlatform::release()
{
    {
        std::lock_guard<std::mutex> guard(m_handlerLock);
        m_onValue = nullptr;
        m_onLinkLost = nullptr;
    }
    // Nothing held before the first call: nothing to tell the peripheral.
    if (m_fd < 0)
        return;
    std::string answer;
    call("CLOSE", kReleaseMs, &answer);
}

} // namespace corvane::helper
