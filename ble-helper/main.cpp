// corvane-ble-helper: does the plugin's Bluetooth LE work in a process of its own. Started
// with --port and --token, it connects back to the plugin on 127.0.0.1, says hello with the
// token and answers one request line after another until told to quit or disconnected.

#include "BleOperations.h"
#include "HelperProtocol.h"
#include "HelperSocket.h"
#include "LineBuffer.h"
#include "QtBluetoothPlatform.h"
#ifndef _WIN32
#include "SimulatedPlatform.h"
#endif

#include <QCoreApplication>

#include <cstdlib>
#include <memory>

using namespace corvane::helper;

namespace {

// The socket is the helper's only channel: Qt's diagnostics go nowhere.
void silence(QtMsgType, const QMessageLogContext &, const QString &) {}

std::unique_ptr<BlePlatform> choosePlatform()
{
#ifndef _WIN32
    // Tests and the demo point the helper at a simulated peripheral; never the default.
    if (const char *sim = std::getenv("CORVANE_BLE_SIM")) {
        std::string host;
        int port = 0;
        if (SimulatedPlatform::parseAddress(sim, &host, &port))
            return std::make_unique<SimulatedPlatform>(host, port);
    }
#endif
    return std::make_unique<QtBluetoothPlatform>();
}

} // namespace

int main(int argc, char **argv)
{
    const CommandLine options = parseCommandLine(argc, argv);
    if (!options.ok)
        return kExitUsage;

    qInstallMessageHandler(silence);
    // Qt Bluetooth reaches BlueZ over D-Bus, which wants an application object.
    QCoreApplication app(argc, argv);

    HelperSocket socket;
    if (!socket.connectLoopback(options.port))
        return kExitNoConnection;
    const auto platform = choosePlatform();
    BleOperations operations(*platform, [&socket](const std::string &line) { socket.sendLine(line); });
    socket.sendLine(helloLine(options.token));

    LineBuffer buffer;
    char chunk[4096];
    for (;;) {
        const std::size_t n = socket.receive(chunk, sizeof chunk);
        if (n == 0)
            break;
        buffer.append(chunk, n);
        std::string line;
        while (buffer.takeLine(&line)) {
            if (!operations.handleLine(line))
                return kExitOk;
        }
    }
    return kExitOk;
}
