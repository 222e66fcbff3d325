#pragma once

#include "device/rpc/RpcResult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// The device's web API as the plugin uses it: which RPC method goes to which address, how
// its parameters are written, and how an HTTP answer becomes an RPC outcome. Pure
// functions, so that tests call them without a network.

namespace corvane {

enum class WebVerb { Get, Post };
enum class WebBody { None, Json, Form };

// One RPC method that the device's web API carries.
struct WebRoute {
    const char *method;
    WebVerb verb;
    const char *path;
    WebBody body;
    // The device restarts while answering, so an answer that never comes means done.
    bool doneWhenDropped = false;
};

// The route of an RPC method (exact, case-sensitive name), or nullptr when the method is
// not available over the network.
const WebRoute *findWebRoute(const QString &method);
// Every route, in table order.
QList<WebRoute> webRoutes();

// The request body of a route: compact JSON with the keys of `order` first (the method's
// documented parameter order), a form, or nothing.
QByteArray encodeWebBody(WebBody body, const QJsonObject &params, const QStringList &order = {});
// key=value pairs joined by "&" in alphabetical key order; values as text (strings
// unchanged, numbers and booleans in their usual form), keys and values fully
// percent-encoded.
QByteArray encodeFormBody(const QJsonObject &params);
// The text form of one parameter value in a form body.
QString formValueText(const QJsonValue &value);

// An HTTP answer translated for the RPC client. When `storeSession` is set (a successful
// "login"), `cookie` and `csrfToken` replace the stored ones, also when empty.
struct WebAnswer {
    RpcResult result;
    bool storeSession = false;
    QByteArray cookie;
    QByteArray csrfToken;
};

// `status` is 0 when no HTTP answer came at all.
WebAnswer translateWebAnswer(const QString &method, int status, const QByteArray &body, const QByteArray &setCookie);
// The RPC error code of a failed HTTP status, given the answer's parsed body.
QString webErrorCode(int status, const QJsonObject &body);
// The session cookie ("name=value") from a Set-Cookie header value.
QByteArray sessionCookieFrom(const QByteArray &setCookie);

// What the user typed as the device's address, made into a host: a bare device number
// becomes corvaneNNNN.local, a bare "corvane..." name gains ".local", a URL loses its scheme
// and path. Empty when the text cannot be an address.
QString resolveHost(const QString &text);

// An address split into host and port; port 0 means the scheme's default.
struct HostAndPort {
    QString host;
    int port = 0;
};
// "host:port" with exactly one colon after the first character and a port from 1 to 65535,
// or "[v6 literal]" with an optional ":port"; anything else is a host without a port.
HostAndPort splitHostAndPort(const QString &address);

// http://host[:port]path; the port is written only when above 0.
QUrl webUrl(const QString &host, int port, const QString &path);

} // namespace corvane
