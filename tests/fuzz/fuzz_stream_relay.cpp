#include "FuzzInput.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/RelayTargets.h"
#include "device/usb/StreamRelay.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "StreamRelay: %s\n", what);
    std::abort();
}

// One application and one listening stream server for the whole run.
struct World {
    int argc = 1;
    char name[16] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTcpServer server;
    World()
    {
        server.listen(QHostAddress::LocalHost);
        // The stream server stands in for a cloud host, on loopback.
        RelayTargets::setLoopbackAllowedForTesting(true);
    }
};

// Never destroyed: at exit Qt Network's own statics (the host lookups the relay starts) are
// gone before a static World would be, and its teardown would call into them.
World &world()
{
    static World *w = new World;
    return *w;
}

} // namespace

// Stream messages (type 5) from a device, with routes to a listening server and to a closed
// port; the server's side writes a little on every stream it accepts. Every message sent
// back to the device must be well formed, stream data in pieces of at most 512 bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    StreamRelay relay;
    relay.configure(QJsonObject{
        {QStringLiteral("up"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), int(w.server.serverPort())}}},
        {QStringLiteral("down"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), 1}}},
    });
    QObject::connect(&relay, &StreamRelay::toDevice, [](const QByteArray &payload) {
        StreamMessage message;
        if (!parseStreamMessage(payload, message))
            fail("malformed message for the device");
        if (payload.size() > 2 + 512 && static_cast<StreamOp>(quint8(payload.at(1))) == StreamOp::Data)
            fail("data message above 512 bytes");
    });
    FuzzInput input(data, size);
    QList<QTcpSocket *> peers;
    int pieces = 0;
    while (!input.atEnd() && pieces++ < 32) {
        relay.fromDevice(input.nextPiece());
        if (input.nextByte() % 4 == 0) {
            QCoreApplication::processEvents();
            while (QTcpSocket *peer = w.server.nextPendingConnection()) {
                peer->write(QByteArray(1500, 'x'));
                peers.append(peer);
            }
        }
    }
    qDeleteAll(peers);
    while (QTcpSocket *late = w.server.nextPendingConnection())
        delete late;
    relay.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
