// How long the USB relays take to get past a cloud address that never answers: a name that
// resolves to a silent address and then a live one, through both relays with the default
// connect deadline, beside a bare Qt socket dialling the silent address alone (what bounded
// each address before the relays had a deadline of their own). Prints seconds.
#include "device/usb/CloudRelay.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/RelayDial.h"
#include "device/usb/RelayTargets.h"
#include "device/usb/StreamRelay.h"
#include "support/TestNetwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <cstdio>

using namespace corvane;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QHostAddress live(QStringLiteral("127.0.0.2"));
    const QHostAddress silentAddress(QStringLiteral("127.0.0.4"));
    QTcpServer cloud;
    if (!cloud.listen(live)) {
        std::fprintf(stderr, "relay-dial: cannot listen on 127.0.0.2\n");
        return 1;
    }
    const test::SilentPeer silent(silentAddress, cloud.serverPort());
    if (!silent.isReady()) {
        std::fprintf(stderr, "relay-dial: cannot make a silent peer on 127.0.0.4\n");
        return 1;
    }
    RelayTargets::setLoopbackAllowedForTesting(true);
    RelayTargets::setLookupForTesting([&](const QString &) { return QList<QHostAddress>{silentAddress, live}; });

    std::printf("connect deadline per address: %.1f s\n",
                std::chrono::duration<double>(RelayDial::DefaultConnectDeadline).count());
    QElapsedTimer clock;
    clock.start();
    int waiting = 3;
    const auto done = [&](const QString &what) {
        std::printf("%-64s %6.1f s\n", qPrintable(what), double(clock.elapsed()) / 1000.0);
        if (--waiting == 0)
            app.quit();
    };

    QTcpSocket bare;
    QObject::connect(&bare, &QTcpSocket::errorOccurred, &app, [&] {
        done(QStringLiteral("bare Qt socket, silent address: gave up (%1)").arg(bare.errorString()));
    });
    bare.connectToHost(silentAddress, silent.port());

    CloudRelay tunnel;
    bool tunnelUp = false;
    QObject::connect(&tunnel, &CloudRelay::statusChanged, &app, [&] {
        if (!tunnelUp && tunnel.isConnected()) {
            tunnelUp = true;
            done(QStringLiteral("cloud relay, silent then live address: connected"));
        }
    });
    tunnel.setTarget(QStringLiteral("cloud.example"), cloud.serverPort());
    tunnel.fromDevice(QByteArrayLiteral("up"));

    StreamRelay streams;
    QObject::connect(&streams, &StreamRelay::toDevice, &app, [&](const QByteArray &payload) {
        StreamMessage message;
        if (parseStreamMessage(payload, message))
            done(QStringLiteral("stream relay, silent then live address: %1")
                     .arg(message.op == StreamOp::Opened ? QStringLiteral("opened") : QStringLiteral("failed")));
    });
    streams.configure(QJsonObject{{QStringLiteral("ota"), QJsonObject{{QStringLiteral("host"), QStringLiteral("cloud.example")},
                                                                       {QStringLiteral("port"), cloud.serverPort()}}}});
    streams.fromDevice(encodeStreamMessage(1, StreamOp::Open, "ota"));

    QTimer::singleShot(std::chrono::seconds(150), &app, [&] {
        std::printf("relay-dial: still waiting after 150 s\n");
        app.exit(1);
    });
    return app.exec();
}
