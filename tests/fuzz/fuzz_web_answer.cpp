#include "FuzzInput.h"
#include "device/lan/DeviceWebApi.h"

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "translateWebAnswer: %s\n", what);
    std::abort();
}

} // namespace

// The device's web answers: a route chosen by the first byte, a status by the next two, a
// Set-Cookie header and a body from the rest. A failure always carries a code and a
// sentence; a session is stored only from a successful login.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QList<WebRoute> routes = webRoutes();
    const WebRoute &route = routes.at(input.nextByte() % routes.size());
    const int status = (input.nextByte() << 8 | input.nextByte()) % 700;
    const QByteArray setCookie = input.nextPiece();
    const QByteArray body = input.rest();
    const QString method = QString::fromLatin1(route.method);
    const WebAnswer answer = translateWebAnswer(method, status, body, setCookie);
    if (!answer.result.ok && (answer.result.code.isEmpty() || answer.result.message.isEmpty()))
        fail("failure without code or sentence");
    if (answer.storeSession && (!answer.result.ok || method != QLatin1String("login")))
        fail("session stored from something other than a successful login");
    (void)sessionCookieFrom(setCookie);
    (void)splitHostAndPort(QString::fromUtf8(setCookie));
    (void)resolveHost(QString::fromUtf8(setCookie));
    return 0;
}
