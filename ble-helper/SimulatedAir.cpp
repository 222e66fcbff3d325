#include "SimulatedAir.h"

#include <sstream>

namespace corvane::helper {

bool SimulatedAir::parse(const std::string &list)
{
    std::vector<std::unique_ptr<SimulatedPlatform>> peripherals;
    std::istringstream in(list);
    std::string entry;
    while (std::getline(in, entry, ',')) {
        std::string host;
        int port = 0;
        if (!SimulatedPlatform::parseAddress(entry, &host, &port))
            return false;
        peripherals.push_back(std::make_unique<SimulatedPlatform>(host, port));
    }
    if (peripherals.empty())
        return false;
    m_peripherals = std::move(peripherals);
    m_held = 0;
    return true;
}

SimulatedPlatform &SimulatedAir::held()
{
    return *m_peripherals.at(m_held);
}

// One radio: the adapter is the same whichever peripheral is asked.
Step SimulatedAir::adapter(Adapter *state)
{
    return m_peripherals.front()->adapter(state);
}

Step SimulatedAir::startScan(AdvertisementHandler handler)
{
    for (const auto &peripheral : m_peripherals) {
        if (Step step = peripheral->startScan(handler); !step.ok)
            return step;
    }
    return {};
}

Step SimulatedAir::stopScan()
{
    Step first;
    for (const auto &peripheral : m_peripherals) {
        const Step step = peripheral->stopScan();
        if (first.ok && !step.ok)
            first = step;
    }
    return first;
}

Step SimulatedAir::openDevice(std::uint64_t address, bool *found)
{
    *found = false;
    m_held = 0;
    for (std::size_t i = 0; i < m_peripherals.size(); ++i) {
        if (Step step = m_peripherals[i]->openDevice(address, found); !step.ok)
            return step;
        if (*found) {
            m_held = i;
            return {};
        }
    }
    return {};
}

Step SimulatedAir::findService(const std::string &uuid, GattStatus *status, int *count)
{
    return held().findService(uuid, status, count);
}

Step SimulatedAir::findCharacteristic(const std::string &uuid, GattStatus *status, int *count)
{
    return held().findCharacteristic(uuid, status, count);
}

void SimulatedAir::watch(ValueHandler onValue, LinkLostHandler onLinkLost)
{
    held().watch(std::move(onValue), std::move(onLinkLost));
}

Step SimulatedAir::subscribe(GattStatus *status)
{
    return held().subscribe(status);
}

Step SimulatedAir::maxPduSize(int *size)
{
    return held().maxPduSize(size);
}

Step SimulatedAir::write(const std::string &bytes, GattStatus *status)
{
    return held().write(bytes, status);
}

void SimulatedAir::release()
{
    held().release();
}

} // namespace corvane::helper
