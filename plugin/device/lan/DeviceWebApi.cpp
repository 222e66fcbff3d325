#include "device/lan/DeviceWebApi.h"

#include "base/OrderedJson.h"
#include "device/rpc/RpcCode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Every RPC method the device's web API carries; the rest are refused over the network.
const WebRoute kRoutes[] = {
    {"login", WebVerb::Post, "/login", WebBody::Json},
    {"getStatus", WebVerb::Get, "/api/status", WebBody::None},
    {"networkTest", WebVerb::Get, "/api/network-test", WebBody::None},
    {"changePassword", WebVerb::Post, "/api/auth/change-password", WebBody::Json},
    {"ensureApiToken", WebVerb::Post, "/api/auth/api-token", WebBody::Json},
    {"getSettings", WebVerb::Get, "/api/settings", WebBody::None},
    {"setSettings", WebVerb::Post, "/api/settings", WebBody::Json},
    {"getControllerList", WebVerb::Get, "/api/controller/list", WebBody::None},
    {"getControllerConfig", WebVerb::Get, "/api/controller/config", WebBody::None},
    {"setControllerConfig", WebVerb::Post, "/api/controller/config", WebBody::Json},
    {"scanWifi", WebVerb::Get, "/scan", WebBody::None},
    {"configureWifi", WebVerb::Post, "/configure", WebBody::Form},
    {"getState", WebVerb::Get, "/state", WebBody::None},
    {"reboot", WebVerb::Post, "/api/system/reboot", WebBody::Json, true},
    {"otaCheck", WebVerb::Get, "/ota/check", WebBody::None},
    {"otaApply", WebVerb::Post, "/ota/apply", WebBody::Json, true},
    {"otaProgress", WebVerb::Get, "/ota/progress", WebBody::None},
    {"c6OtaStatus", WebVerb::Get, "/api/system/c6-ota", WebBody::None},
    {"c6OtaApply", WebVerb::Post, "/api/system/c6-ota", WebBody::Json},
    {"getMqttConfig", WebVerb::Get, "/api/mqtt/broker", WebBody::None},
    {"setMqttConfig", WebVerb::Post, "/api/mqtt/broker", WebBody::Json},
    {"getDeviceId", WebVerb::Get, "/api/device-id", WebBody::None},
    {"setDeviceId", WebVerb::Post, "/api/device-id", WebBody::Json},
    {"provision", WebVerb::Post, "/api/provision", WebBody::Json},
    {"blePasskey", WebVerb::Get, "/api/auth/ble-passkey", WebBody::None},
};

// How a failed HTTP status becomes an RPC error code. Two statuses look into the body:
// a 400 may name its own code, and a 403 for a stale CSRF token means "sign in again".
enum class CodeRule { Fixed, BodyCode, CsrfCheck };
struct StatusCode {
    int status;
    const char *code;
    CodeRule rule;
};
const StatusCode kStatusCodes[] = {
    {400, "bad_request", CodeRule::BodyCode},
    {401, "unauthorized", CodeRule::Fixed},
    {403, "forbidden", CodeRule::CsrfCheck},
    {429, "rate_limited", CodeRule::Fixed},
    {503, "unavailable", CodeRule::Fixed},
};
const char kOtherStatusCode[] = "device_error";

bool isPortText(const QString &text, int *port)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (!digits.match(text).hasMatch())
        return false;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

bool containsWhiteSpace(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}

} // namespace

const WebRoute *findWebRoute(const QString &method)
{
    for (const WebRoute &route : kRoutes) {
        if (method == QLatin1String(route.method))
            return &route;
    }
    return nullptr;
}

QList<WebRoute> webRoutes()
{
    return QList<WebRoute>(std::begin(kRoutes), std::end(kRoutes));
}

QString formValueText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        const double number = value.toDouble();
        // Whole numbers as integers ("6", not "6.0" or "6e+00"), as a device's form parser expects.
        if (std::trunc(number) == number && std::fabs(number) < 9007199254740992.0)
            return QString::number(qint64(number));
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    default:
        return QString();
    }
}

QByteArray encodeFormBody(const QJsonObject &params)
{
    QStringList keys = params.keys();
    std::sort(keys.begin(), keys.end());
    QByteArray body;
    for (const QString &key : std::as_const(keys)) {
        if (!body.isEmpty())
            body += '&';
        // No exceptions to the encoding: everything but the unreserved characters is escaped.
        body += QUrl::toPercentEncoding(key);
        body += '=';
        body += QUrl::toPercentEncoding(formValueText(params.value(key)));
    }
    return body;
}

QByteArray encodeWebBody(WebBody body, const QJsonObject &params, const QStringList &order)
{
    switch (body) {
    case WebBody::Json:
        return OrderedJson(params, order).toJson();
    case WebBody::Form:
        return encodeFormBody(params);
    case WebBody::None:
        break;
    }
    return QByteArray();
}

QByteArray sessionCookieFrom(const QByteArray &setCookie)
{
    // Several Set-Cookie headers arrive joined by line breaks; the session cookie is the first.
    QByteArray value = setCookie;
    const qsizetype lineEnd = value.indexOf('\n');
    if (lineEnd >= 0)
        value.truncate(lineEnd);
    const qsizetype semicolon = value.indexOf(';');
    if (semicolon > 0)
        value.truncate(semicolon);
    return value.trimmed();
}

QString webErrorCode(int status, const QJsonObject &body)
{
    for (const StatusCode &entry : kStatusCodes) {
        if (entry.status != status)
            continue;
        switch (entry.rule) {
        case CodeRule::BodyCode: {
            const QString code = body.value(QLatin1String("code")).toString();
            return code.isEmpty() ? QString::fromLatin1(entry.code) : code;
        }
        case CodeRule::CsrfCheck:
            if (body.value(QLatin1String("error")).toString() == QLatin1String("csrf_invalid"))
                return RpcCode::Unauthorized;
            return QString::fromLatin1(entry.code);
        case CodeRule::Fixed:
            return QString::fromLatin1(entry.code);
        }
    }
    return QString::fromLatin1(kOtherStatusCode);
}

WebAnswer translateWebAnswer(const QString &method, int status, const QByteArray &body, const QByteArray &setCookie)
{
    WebAnswer answer;
    if (status == 0) {
        const WebRoute *route = findWebRoute(method);
        if (route && route->doneWhenDropped)
            answer.result = RpcResult::success(QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}});
        else
            answer.result = RpcResult::failure(RpcCode::Unreachable, QStringLiteral("Could not reach the device on your network."));
        return answer;
    }

    const QJsonDocument document = QJsonDocument::fromJson(body);
    QJsonObject object;
    if (document.isObject())
        object = document.object();
    else if (document.isArray())
        object.insert(QStringLiteral("value"), document.array());
    else
        object.insert(QStringLiteral("value"), QJsonValue::Null);

    if (status >= 200 && status <= 299) {
        if (method == QLatin1String("login")) {
            answer.storeSession = true;
            answer.cookie = sessionCookieFrom(setCookie);
            answer.csrfToken = object.value(QLatin1String("csrf_token")).toString().toUtf8();
        }
        answer.result = RpcResult::success(object);
        return answer;
    }

    QString message = object.value(QLatin1String("message")).toString();
    if (message.isEmpty())
        message = object.value(QLatin1String("error")).toString();
    if (message.isEmpty())
        message = QStringLiteral("The device answered with an error (%1).").arg(status);
    answer.result = RpcResult::failure(webErrorCode(status, object), message);
    return answer;
}

QString resolveHost(const QString &text)
{
    QString host = text.trimmed();
    if (host.isEmpty())
        return QString();
    const qsizetype scheme = host.indexOf(QLatin1String("://"));
    if (scheme >= 0)
        host = host.mid(scheme + 3);
    const qsizetype slash = host.indexOf(QLatin1Char('/'));
    if (slash >= 0)
        host.truncate(slash);
    host = host.trimmed();
    if (host.isEmpty() || containsWhiteSpace(host))
        return QString();

    static const QRegularExpression deviceNumber(QStringLiteral("^[0-9]{1,4}$"));
    if (deviceNumber.match(host).hasMatch())
        return QStringLiteral("corvane%1.local").arg(host.toInt(), 4, 10, QLatin1Char('0'));

    if (host.startsWith(QLatin1String("corvane"), Qt::CaseInsensitive) && !host.contains(QLatin1Char('.'))) {
        // A port typed after the name stays after the domain: corvane0029.local:8080.
        const HostAndPort split = splitHostAndPort(host);
        if (split.port > 0)
            return QStringLiteral("%1.local:%2").arg(split.host.toLower()).arg(split.port);
        return host.toLower() + QLatin1String(".local");
    }
    return host;
}

HostAndPort splitHostAndPort(const QString &address)
{
    const QString text = address.trimmed();
    HostAndPort result;
    result.host = text;

    // An IPv6 literal in brackets, as in URLs: [fe80::1] or [fe80::1]:8080.
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close > 1) {
            const QString rest = text.mid(close + 1);
            int port = 0;
            if (rest.isEmpty() || (rest.startsWith(QLatin1Char(':')) && isPortText(rest.mid(1), &port))) {
                result.host = text.mid(1, close - 1);
                result.port = port;
            }
        }
        return result;
    }

    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    int port = 0;
    if (colon > 0 && text.count(QLatin1Char(':')) == 1 && isPortText(text.mid(colon + 1), &port)) {
        result.host = text.left(colon);
        result.port = port;
    }
    return result;
}

QUrl webUrl(const QString &host, int port, const QString &path)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host);
    if (port > 0)
        url.setPort(port);
    url.setPath(path);
    return url;
}

} // namespace corvane
