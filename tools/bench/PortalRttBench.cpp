// Round-trip time of cloud portal requests through PortalClient to corvane-portal-sim on
// 127.0.0.1: the device-state poll that cloud live data runs every second, and the graphics
// output list, back to back and with several in flight. Prints figures; never fails on them.

#include "Figures.h"
#include "cloud/PortalClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace corvane;
using bench::Figures;
using bench::summarize;

namespace {

PortalResult wait(const std::function<void(PortalClient::Callback)> &start)
{
    QEventLoop loop;
    PortalResult out;
    start([&](const PortalResult &r) {
        out = r;
        loop.quit();
    });
    loop.exec();
    return out;
}

// `count` calls one after another; each one's time in ms, or empty when one fails.
std::vector<double> sequential(int count, const std::function<void(PortalClient::Callback)> &start)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (!wait(start).ok)
            return {};
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return times;
}

void print(const char *what, const std::vector<double> &times)
{
    if (times.empty()) {
        std::printf("%-34s failed\n", what);
        return;
    }
    const Figures f = summarize(times);
    std::printf("%-34s n=%-5zu median %7.3f ms  p99 %7.3f ms  min %7.3f ms  max %7.3f ms\n", what, times.size(),
                f.median, f.p99, f.min, f.max);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Portal request round trips to corvane-portal-sim."));
    parser.addHelpOption();
    const QCommandLineOption calls(QStringLiteral("calls"), QStringLiteral("Calls per figure."), QStringLiteral("n"),
                                   QStringLiteral("500"));
    const QCommandLineOption inFlight(QStringLiteral("in-flight"), QStringLiteral("Requests in flight at once."),
                                      QStringLiteral("n"), QStringLiteral("8"));
    parser.addOptions({calls, inFlight});
    parser.process(app);
    const int count = std::max(1, parser.value(calls).toInt());
    const int parallel = std::max(1, parser.value(inFlight).toInt());

    QProcess sim;
    sim.setProgram(QStringLiteral(CORVANE_PORTAL_SIM));
    sim.start();
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the portal simulator did not start\n");
        return 1;
    }
    const QString url = QString::fromUtf8(sim.readLine()).trimmed();

    PortalClient client;
    client.setBaseUrl(url);
    if (!wait([&](auto cb) { client.signIn(QStringLiteral("operator@example.com"), QStringLiteral("correct horse battery"), cb); }).ok) {
        std::fprintf(stderr, "sign-in at the simulator failed\n");
        return 1;
    }
    std::printf("portal simulator %s, %d calls per figure\n", qPrintable(url), count);
    print("device state, one at a time", sequential(count, [&](auto cb) { client.getDeviceState(QStringLiteral("CV-1001"), cb); }));
    print("graphics outputs, one at a time", sequential(count, [&](auto cb) { client.listOutputs(cb); }));

    // Several in flight: total time for `count` calls with `parallel` outstanding.
    QElapsedTimer clock;
    clock.start();
    int started = 0;
    int finished = 0;
    bool failed = false;
    QEventLoop loop;
    std::function<void()> next = [&] {
        if (started >= count)
            return;
        ++started;
        client.getDeviceState(QStringLiteral("CV-1001"), [&](const PortalResult &r) {
            failed = failed || !r.ok;
            if (++finished == count)
                loop.quit();
            else
                next();
        });
    };
    for (int i = 0; i < parallel; ++i)
        next();
    loop.exec();
    const double total = double(clock.nsecsElapsed()) / 1e6;
    if (failed)
        std::printf("%-34s failed\n", "device state, in flight");
    else
        std::printf("device state, %d in flight %*s%d calls in %.1f ms: %.0f requests/s\n", parallel, 17, "", count, total,
                    1000.0 * count / total);

    sim.kill();
    sim.waitForFinished(5000);
    return 0;
}
