// Round-trip time of device RPCs over Bluetooth as the plugin sends them: BleLink,
// BleBridge, corvane-ble-helper and corvane-devsim's simulated peripheral, beside the same
// calls over the USB path (UsbLink on a pty) to the same simulator in the same run. Prints
// figures; never fails on them.

#include "Figures.h"
#include "RpcCalls.h"
#include "device/ble/BleBridge.h"
#include "device/ble/BleLink.h"
#include "device/rpc/RpcClient.h"
#include "device/usb/UsbLink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <vector>

using namespace corvane;
using bench::summarize;
using bench::timeCalls;

namespace {

bool waitOpened(DeviceLink &link)
{
    QEventLoop opened;
    QObject::connect(&link, &DeviceLink::opened, &opened, &QEventLoop::quit);
    QObject::connect(&link, &DeviceLink::failed, &opened, [&opened](const QString &, const QString &message) {
        std::fprintf(stderr, "link failed: %s\n", qPrintable(message));
        opened.exit(1);
    });
    QTimer::singleShot(20000, &opened, [&opened] { opened.exit(1); });
    link.open();
    return opened.exec() == 0;
}

// getStatus and a 4 kB reply on one link; false when a call failed.
bool run(const char *label, DeviceLink &link, int calls, int bigCalls)
{
    RpcClient client(link.rpcTransport());
    timeCalls(client, QStringLiteral("login"), {{QStringLiteral("password"), QStringLiteral("mapleguard")}}, 1);
    timeCalls(client, QStringLiteral("getStatus"), {}, 10); // warm-up
    const std::vector<double> small = timeCalls(client, QStringLiteral("getStatus"), {}, calls);
    const std::vector<double> big = timeCalls(client, QStringLiteral("bigResult"), {{QStringLiteral("size"), 4096}}, bigCalls);
    if (small.empty() || big.empty())
        return false;
    for (const auto &[what, times] : {std::make_pair("getStatus", small), std::make_pair("bigResult 4 kB", big)}) {
        const bench::Figures f = summarize(times);
        std::printf("%-4s %-15s calls %4zu  median %7.2f ms  p99 %7.2f ms  mean %7.2f ms  min %7.2f ms  max %7.2f ms\n", label, what,
                    times.size(), f.median, f.p99, f.mean, f.min, f.max);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("RPC round trips over Bluetooth (helper and simulated peripheral) beside USB."));
    parser.addHelpOption();
    const QCommandLineOption calls(QStringLiteral("calls"), QStringLiteral("getStatus calls per path (default 300)."), QStringLiteral("n"), QStringLiteral("300"));
    const QCommandLineOption bigCalls(QStringLiteral("big-calls"), QStringLiteral("4 kB replies per path (default 50)."), QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption pdu(QStringLiteral("pdu"), QStringLiteral("Maximum PDU size of the Bluetooth link (default 247)."), QStringLiteral("n"), QStringLiteral("247"));
    parser.addOptions({calls, bigCalls, pdu});
    parser.process(app);

    QProcess sim;
    sim.setProgram(QStringLiteral(CORVANE_DEVSIM));
    sim.setArguments({QStringLiteral("--live-ms"), QStringLiteral("0"), QStringLiteral("--feed-port"), QStringLiteral("0"),
                      QStringLiteral("--ble-port"), QStringLiteral("0"), QStringLiteral("--ble-pdu"), parser.value(pdu)});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    QString pty;
    QString air;
    while (pty.isEmpty() && sim.waitForReadyRead(10000)) {
        while (sim.canReadLine()) {
            const QString line = QString::fromUtf8(sim.readLine()).trimmed();
            if (line.startsWith(QLatin1String("PTY ")))
                pty = line.mid(4);
            else if (line.startsWith(QLatin1String("BLE ")))
                air = line.mid(4);
        }
    }
    if (pty.isEmpty() || air.isEmpty()) {
        std::fprintf(stderr, "corvane-devsim did not report its pty and Bluetooth port\n");
        return 1;
    }
    qputenv("CORVANE_BLE_SIM", air.toLatin1());

    std::printf("Bluetooth: maximum PDU size %s; 4 kB replies come as notifications of up to %d bytes\n",
                qPrintable(parser.value(pdu)), qBound(20, parser.value(pdu).toInt() - 3, 244));
    const int n = parser.value(calls).toInt();
    const int nb = parser.value(bigCalls).toInt();

    BleBridge bridge;
    bridge.setHelperPath(QStringLiteral(CORVANE_BLE_HELPER));
    BleLink ble(QStringLiteral("00A1B2C3D4E5"), QStringLiteral("bench"), &bridge);
    if (!waitOpened(ble) || !run("ble", ble, n, nb))
        return 1;
    ble.close();
    bridge.stop();

    UsbLink usb(pty);
    if (!waitOpened(usb) || !run("usb", usb, n, nb))
        return 1;
    usb.close();

    sim.closeWriteChannel();
    sim.waitForFinished(3000);
    return 0;
}
