#include "FuzzInput.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/StreamRelay.h"
#include "device/usb/UsbLink.h"

#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "control message: %s\n", what);
    std::abort();
}

} // namespace

// Control messages (type 3) as a device or receiver sends them, read the way the USB link
// reads a hello answer: the tunnel target and the stream routes it names must be usable
// TCP addresses or nothing, and a message written back must read the same.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    StreamRelay relay;
    int pieces = 0;
    while (!input.atEnd() && pieces++ < 16) {
        const QJsonObject message = parseControl(input.nextPiece());
        if (message.isEmpty())
            continue;
        const QPair<QString, int> target = UsbLink::tunnelTarget(message.value(QLatin1String("tunnel")).toObject());
        if (target.first.isEmpty() != (target.second == 0) || target.second < 0 || target.second > 65535)
            fail("tunnel target half set or outside the TCP range");
        relay.configure(message.value(QLatin1String("streams")).toObject());
        for (const QString &name : relay.routeNames()) {
            const StreamRelay::Route route = relay.route(name);
            if (route.host.isEmpty() || route.host.contains(QLatin1Char(' ')) || route.port == 0)
                fail("unusable stream route accepted");
        }
        // A message too long for one frame is not written at all.
        const QByteArray frame = encodeControl(message);
        QByteArray buffer;
        const QList<UsbFrame> frames = decodeFrames(buffer, frame);
        if (!frame.isEmpty() && (frames.size() != 1 || parseControl(frames.first().payload) != message))
            fail("message does not survive its own frame");
    }
    return 0;
}
