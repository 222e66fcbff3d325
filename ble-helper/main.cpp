// corvane-ble-helper: does the plugin's Bluetooth LE work in a process of its own. Started
// with --port and its one-time token in the environment, it connects back to the plugin on
// 127.0.0.1, says hello with the token and answers one request line after another until
// told to quit or disconnected.

#include "BleOperations.h"
#include "HelperProtocol.h"
#include "HelperSocket.h"
#include "LineBuffer.h"
#include "QtBluetoothPlatform.h"
#ifndef _WIN32
#include "SimulatedAir.h"
#endif

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace corvane::helper;

namespace {

const char kHelp[] =
    "usage: corvane-ble-helper --port PORT\n"
    "\n"
    "Does Bluetooth LE work for the Corvane OBS plugin, which starts it. It connects to the\n"
    "plugin on 127.0.0.1:PORT, says hello with a one-time token and answers the plugin's\n"
    "requests, one JSON object per line, until told to quit or disconnected.\n"
    "\n"
    "The token is read from the environment variable CORVANE_BLE_TOKEN (empty when unset),\n"
    "never from the command line, which other users of the computer can read.\n"
    "\n"
    "Exit status: 0 when done, 2 when nothing listens on the port, 64 for bad arguments.\n";

// Qt's diagnostics (BlueZ and D-Bus trouble among them) go to standard error, one line each,
// which the plugin copies into OBS's log; the socket carries only the protocol.
void toStandardError(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const char *level = "info";
    if (type == QtDebugMsg)
        level = "debug";
    else if (type == QtWarningMsg)
        level = "warning";
    else if (type == QtCriticalMsg || type == QtFatalMsg)
        level = "error";
    QByteArray text = message.toUtf8();
    text.replace('\n', ' ');
    std::fprintf(stderr, "%s: %s\n", level, text.constData());
    std::fflush(stderr);
}

bool asksForHelp(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

std::unique_ptr<BlePlatform> choosePlatform()
{
#ifndef _WIN32
    // Tests and the demo point the helper at simulated peripherals; never the default.
    if (const char *sim = std::getenv("CORVANE_BLE_SIM")) {
        auto air = std::make_unique<SimulatedAir>();
        if (air->parse(sim))
            return air;
    }
#endif
    return std::make_unique<QtBluetoothPlatform>();
}

} // namespace

int main(int argc, char **argv)
{
    if (asksForHelp(argc, argv)) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    const CommandLine options = parseCommandLine(argc, argv);
    if (!options.ok)
        return kExitUsage;
    const char *token = std::getenv(kTokenVariable);

    qInstallMessageHandler(toStandardError);
    // Qt Bluetooth reaches BlueZ over D-Bus, which wants an application object.
    QCoreApplication app(argc, argv);
    qInfo("corvane-ble-helper started on Qt %s", qVersion());

    HelperSocket socket;
    if (!socket.connectLoopback(options.port))
        return kExitNoConnection;
    const auto platform = choosePlatform();
    BleOperations operations(*platform, [&socket](const std::string &line) { socket.sendLine(line); });
    socket.sendLine(helloLine(token ? token : ""));

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
