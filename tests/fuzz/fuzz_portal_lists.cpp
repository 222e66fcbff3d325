#include "FuzzInput.h"
#include "cloud/CloudDevice.h"
#include "cloud/GraphicsOutput.h"
#include "cloud/PortalResult.h"

#include <QUrl>

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "portal answer: %s\n", what);
    std::abort();
}

} // namespace

// Portal answers as they arrive: a status from the first two bytes, the body from the rest,
// read as a result and then as the device and output lists.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const int status = (input.nextByte() << 8 | input.nextByte()) % 700;
    const PortalResult result = portalResultFromReply(status != 0, status, input.rest());
    if (result.ok != (status >= 200 && status <= 299))
        fail("ok does not follow the status");
    if (!result.ok && result.message.isEmpty())
        fail("failure without a sentence");
    for (const CloudDevice &device : parseDevices(result.data)) {
        if (device.deviceId.isEmpty())
            fail("device without an id");
        (void)device.displayName();
    }
    const QString base = QStringLiteral("https://portal.example");
    for (const GraphicsOutput &output : parseOutputs(result.data, base)) {
        if (output.id.isEmpty() || output.shareToken.isEmpty() || output.name.isEmpty())
            fail("output without id, share token or name");
        if (!output.url.startsWith(base + QStringLiteral("/graphics/o/")) || QUrl(output.url).host() != QLatin1String("portal.example"))
            fail("output page outside the portal");
    }
    return 0;
}
