// Round-trip time of device RPCs over the USB path: UsbLink and RpcClient on a pseudo-
// terminal to corvane-devsim, first with the serial port polled every 15 ms (how it read
// before, and how it reads on Windows), then with it reading as bytes arrive (this
// platform's way). Prints figures; never fails on them.

#include "Figures.h"
#include "RpcCalls.h"
#include "device/rpc/RpcClient.h"
#include "device/usb/SerialPort.h"
#include "device/usb/UsbLink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace corvane;
using bench::Figures;
using bench::summarize;
using bench::timeCalls;

namespace {

void print(const char *label, int calls, const Figures &f)
{
    std::printf("  %-28s calls %4d  median %7.2f ms  p99 %7.2f ms  mean %7.2f ms  min %7.2f ms  max %7.2f ms\n",
                label, calls, f.median, f.p99, f.mean, f.min, f.max);
}

struct Series {
    Figures small;
    Figures big;
};

// Opens a link on the simulator's pty with the given way of reading, signs in and times
// the calls; false (with the reason on standard error) when something fails.
bool measure(const QString &pty, SerialPort::ReadMode mode, int n, int nb, Series *out)
{
    UsbLink link(pty, nullptr, mode);
    QEventLoop opened;
    QObject::connect(&link, &DeviceLink::opened, &opened, &QEventLoop::quit);
    QObject::connect(&link, &DeviceLink::failed, &opened, [&opened] { opened.exit(1); });
    QTimer::singleShot(10000, &opened, [&opened] { opened.exit(1); });
    link.open();
    if (opened.exec() != 0) {
        std::fprintf(stderr, "the simulated device did not answer hello\n");
        return false;
    }
    RpcClient client(link.rpcTransport());
    // The device answers admin methods only after a sign-in (factory password here).
    timeCalls(client, QStringLiteral("login"), {{QStringLiteral("password"), QStringLiteral("mapleguard")}}, 1);
    timeCalls(client, QStringLiteral("getStatus"), {}, 20); // warm-up
    const std::vector<double> small = timeCalls(client, QStringLiteral("getStatus"), {}, n);
    const std::vector<double> big = timeCalls(client, QStringLiteral("bigResult"), {{QStringLiteral("size"), 30000}}, nb);
    link.close();
    if (small.empty() || (nb > 0 && big.empty()))
        return false;
    out->small = summarize(small);
    out->big = summarize(big);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("RPC round-trip time over a pty to corvane-devsim."));
    parser.addHelpOption();
    const QCommandLineOption calls(QStringLiteral("calls"), QStringLiteral("Small calls to time (default 500)."), QStringLiteral("n"), QStringLiteral("500"));
    const QCommandLineOption bigCalls(QStringLiteral("big-calls"), QStringLiteral("Fragmented 30 kB replies to time (default 50)."), QStringLiteral("n"), QStringLiteral("50"));
    parser.addOptions({calls, bigCalls});
    parser.process(app);

    QProcess sim;
    sim.setProgram(QStringLiteral(CORVANE_DEVSIM));
    sim.setArguments({QStringLiteral("--live-ms"), QStringLiteral("0")});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    QString pty;
    while (pty.isEmpty() && sim.waitForReadyRead(10000)) {
        while (sim.canReadLine()) {
            const QString line = QString::fromUtf8(sim.readLine()).trimmed();
            if (line.startsWith(QLatin1String("PTY ")))
                pty = line.mid(4);
        }
    }
    if (pty.isEmpty()) {
        std::fprintf(stderr, "corvane-devsim did not report its pty\n");
        return 1;
    }

    const int n = parser.value(calls).toInt();
    const int nb = parser.value(bigCalls).toInt();
    Series before;
    Series after;
    if (!measure(pty, SerialPort::ReadMode::Polled, n, nb, &before) || !measure(pty, SerialPort::ReadMode::Notified, n, nb, &after))
        return 1;
    std::printf("before: the serial port polled every %d ms\n", SerialPort::PollIntervalMs);
    print("getStatus (one frame each)", n, before.small);
    if (nb > 0)
        print("bigResult 30 kB (15 frags)", nb, before.big);
    std::printf("after: read as bytes arrive\n");
    print("getStatus (one frame each)", n, after.small);
    if (nb > 0)
        print("bigResult 30 kB (15 frags)", nb, after.big);
    std::printf("after/before, medians: getStatus %.3f", after.small.median / before.small.median);
    if (nb > 0)
        std::printf(", bigResult %.3f", after.big.median / before.big.median);
    std::printf("\n");

    sim.closeWriteChannel();
    sim.waitForFinished(3000);
    return 0;
}
