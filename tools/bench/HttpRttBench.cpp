// Round-trip time of device RPCs over the local-network path: HttpLink, HttpAdminTransport
// and RpcClient against corvane-devsim's web API on 127.0.0.1, and the cadence of a
// DeviceSession's status polls on that link. Prints figures; never fails on them.

#include "Figures.h"
#include "RpcCalls.h"
#include "device/DeviceSession.h"
#include "device/lan/HttpLink.h"
#include "device/rpc/RpcClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace corvane;
using bench::Figures;
using bench::summarize;
using bench::timeCalls;

namespace {

const QString Password = QStringLiteral("bench-admin-1");

void print(const char *label, int calls, const Figures &f)
{
    std::printf("%-34s n %4d  median %7.2f ms  p99 %7.2f ms  mean %7.2f ms  min %7.2f ms  max %7.2f ms\n", label, calls,
                f.median, f.p99, f.mean, f.min, f.max);
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("RPC round-trip time over HTTP to corvane-devsim, and session poll cadence."));
    parser.addHelpOption();
    const QCommandLineOption calls(QStringLiteral("calls"), QStringLiteral("GET and POST calls to time (default 300)."), QStringLiteral("n"), QStringLiteral("300"));
    const QCommandLineOption pollSeconds(QStringLiteral("poll-seconds"), QStringLiteral("How long to watch the session's polls (default 6)."), QStringLiteral("s"), QStringLiteral("6"));
    parser.addOptions({calls, pollSeconds});
    parser.process(app);

    QProcess sim;
    sim.setProgram(QStringLiteral(CORVANE_DEVSIM));
    sim.setArguments({QStringLiteral("--live-ms"), QStringLiteral("0"), QStringLiteral("--http-port"), QStringLiteral("0"),
                      QStringLiteral("--password"), Password});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    QString address;
    while (address.isEmpty() && sim.waitForReadyRead(10000)) {
        while (sim.canReadLine()) {
            const QString line = QString::fromUtf8(sim.readLine()).trimmed();
            if (line.startsWith(QLatin1String("HTTP ")))
                address = line.mid(5);
        }
    }
    if (address.isEmpty()) {
        std::fprintf(stderr, "corvane-devsim did not report its web address\n");
        return 1;
    }
    // Its request lines are not needed here.
    QObject::connect(&sim, &QProcess::readyReadStandardOutput, &sim, [&sim] { sim.readAllStandardOutput(); });

    const int n = parser.value(calls).toInt();
    {
        HttpLink link(address);
        QElapsedTimer openClock;
        openClock.start();
        QEventLoop opened;
        QObject::connect(&link, &DeviceLink::opened, &opened, &QEventLoop::quit);
        QObject::connect(&link, &DeviceLink::failed, &opened, [&opened] { opened.exit(1); });
        link.open();
        if (opened.exec() != 0) {
            std::fprintf(stderr, "the simulated device did not answer the status check\n");
            return 1;
        }
        const double openMs = double(openClock.nsecsElapsed()) / 1e6;

        RpcClient client(link.rpcTransport());
        const std::vector<double> login = timeCalls(client, QStringLiteral("login"), {{QStringLiteral("password"), Password}}, 1);
        timeCalls(client, QStringLiteral("getState"), {}, 20); // warm-up
        const std::vector<double> gets = timeCalls(client, QStringLiteral("getState"), {}, n);
        const std::vector<double> posts = timeCalls(client, QStringLiteral("setSettings"), {{QStringLiteral("wireless_channel"), 3}}, n);
        const std::vector<double> forms = timeCalls(
            client, QStringLiteral("configureWifi"), {{QStringLiteral("ssid"), QStringLiteral("Bench Net")}, {QStringLiteral("pass"), QStringLiteral("bench pass 1")}}, n);
        if (login.empty() || gets.empty() || posts.empty() || forms.empty())
            return 1;
        std::printf("%-34s %7.2f ms\n", "status check (open)", openMs);
        print("login (POST JSON)", 1, summarize(login));
        print("getState (GET, JSON answer)", n, summarize(gets));
        print("setSettings (POST JSON, 204)", n, summarize(posts));
        print("configureWifi (POST form, 204)", n, summarize(forms));
    }

    // A signed-in session on its own link, default timing: the gaps between poll answers.
    DeviceSession session(new HttpLink(address));
    session.start();
    waitFor([&] { return session.state() == DeviceSession::NeedsPassword; }, 10000);
    session.submitPassword(Password);
    if (!waitFor([&] { return session.state() == DeviceSession::Ready; }, 10000)) {
        std::fprintf(stderr, "the session did not sign in\n");
        return 1;
    }
    std::vector<double> gaps;
    QElapsedTimer clock;
    clock.start();
    qint64 last = -1;
    QObject::connect(&session, &DeviceSession::envelope, &session, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            gaps.push_back(double(now - last) / 1e6);
        last = now;
    });
    const int seconds = parser.value(pollSeconds).toInt();
    waitFor([&] { return clock.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    print("session poll interval (getState)", int(gaps.size()), summarize(gaps));

    session.close();
    sim.closeWriteChannel();
    sim.waitForFinished(3000);
    return 0;
}
