#include "DeviceState.h"
#include "HttpApi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <cstdio>

namespace corvane::devsim {

namespace {

const QByteArray SessionCookieName = QByteArrayLiteral("cv_session");

enum class Body { None, Json, Form };

// The firmware's web routes. Kept apart from the plugin's own table on purpose: the
// simulator stands for the device, so a route the plugin gets wrong shows up as a 404.
struct Route {
    const char *verb;
    const char *path;
    const char *method;
    Body body;
    bool dropsConnection = false; // the device restarts before it can answer
};
const Route Routes[] = {
    {"POST", "/login", "login", Body::Json},
    {"GET", "/api/status", "getStatus", Body::None},
    {"GET", "/api/network-test", "networkTest", Body::None},
    {"POST", "/api/auth/change-password", "changePassword", Body::Json},
    {"POST", "/api/auth/api-token", "ensureApiToken", Body::Json},
    {"GET", "/api/settings", "getSettings", Body::None},
    {"POST", "/api/settings", "setSettings", Body::Json},
    {"GET", "/api/controller/list", "getControllerList", Body::None},
    {"GET", "/api/controller/config", "getControllerConfig", Body::None},
    {"POST", "/api/controller/config", "setControllerConfig", Body::Json},
    {"GET", "/scan", "scanWifi", Body::None},
    {"POST", "/configure", "configureWifi", Body::Form},
    {"GET", "/state", "getState", Body::None},
    {"POST", "/api/system/reboot", "reboot", Body::Json, true},
    {"GET", "/ota/check", "otaCheck", Body::None},
    {"POST", "/ota/apply", "otaApply", Body::Json},
    {"GET", "/ota/progress", "otaProgress", Body::None},
    {"GET", "/api/system/c6-ota", "c6OtaStatus", Body::None},
    {"POST", "/api/system/c6-ota", "c6OtaApply", Body::Json},
    {"GET", "/api/mqtt/broker", "getMqttConfig", Body::None},
    {"POST", "/api/mqtt/broker", "setMqttConfig", Body::Json},
    {"GET", "/api/device-id", "getDeviceId", Body::None},
    {"POST", "/api/device-id", "setDeviceId", Body::Json},
    {"POST", "/api/provision", "provision", Body::Json},
    {"GET", "/api/auth/ble-passkey", "blePasskey", Body::None},
};

// The HTTP status the firmware answers an RPC failure with; other codes go out as 400
// with the code in the body.
struct FailureStatus {
    const char *code;
    int status;
};
const FailureStatus FailureStatuses[] = {
    {"unauthorized", 401},
    {"invalid_credentials", 401},
    {"rate_limited", 429},
    {"password_change_required", 403},
    {"forbidden", 403},
    {"unknown_method", 404},
    {"restarting", 503},
};

struct StatusText {
    int status;
    const char *text;
};
const StatusText StatusTexts[] = {
    {200, "OK"},
    {204, "No Content"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {413, "Payload Too Large"},
    {429, "Too Many Requests"},
    {501, "Not Implemented"},
    {503, "Service Unavailable"},
};

const char *statusText(int status)
{
    for (const StatusText &entry : StatusTexts) {
        if (entry.status == status)
            return entry.text;
    }
    return "Unknown";
}

int failureStatus(const QString &code)
{
    for (const FailureStatus &entry : FailureStatuses) {
        if (code == QLatin1String(entry.code))
            return entry.status;
    }
    return 400;
}

QJsonObject errorBody(const QString &code, const QString &message)
{
    return QJsonObject{{QStringLiteral("error"), code}, {QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
}

QJsonObject parseForm(const QByteArray &body)
{
    QJsonObject params;
    const QList<QByteArray> pairs = body.split('&');
    for (QByteArray pair : pairs) {
        if (pair.isEmpty())
            continue;
        pair.replace('+', ' ');
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = QByteArray::fromPercentEncoding(equals < 0 ? pair : pair.left(equals));
        const QByteArray value = equals < 0 ? QByteArray() : QByteArray::fromPercentEncoding(pair.mid(equals + 1));
        params.insert(QString::fromUtf8(key), QString::fromUtf8(value));
    }
    return params;
}

QByteArray cookieValue(const QByteArray &header, const QByteArray &name)
{
    const QList<QByteArray> parts = header.split(';');
    for (const QByteArray &part : parts) {
        const QByteArray trimmed = part.trimmed();
        if (trimmed.startsWith(name + '='))
            return trimmed.mid(name.size() + 1);
    }
    return QByteArray();
}

void report(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

struct HttpApi::Connection {
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool handling = false; // a request is being answered; later ones wait in the buffer
    bool closeAfterAnswer = false;
};

HttpApi::HttpApi(DeviceState *state, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_methods(state)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpApi::onNewConnection);
    connect(m_state, &DeviceState::wentDown, this, &HttpApi::onWentDown);
}

HttpApi::~HttpApi()
{
    for (Connection *connection : std::as_const(m_connections))
        delete connection;
}

bool HttpApi::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_server->listen(address, port))
        return true;
    *error = m_server->errorString();
    return false;
}

QHostAddress HttpApi::serverAddress() const
{
    return m_server->serverAddress();
}

quint16 HttpApi::serverPort() const
{
    return m_server->serverPort();
}

QString HttpApi::commands()
{
    return QStringLiteral(
        "Web API commands:\n"
        "  web silent on|off   read requests but answer none, or answer again\n"
        "  web csrf-rotate     give every web session a new CSRF token (the one held goes stale)\n"
        "  web logout          forget every web session\n"
        "Web API lines on stdout (with --http-port): HTTP <address>:<port> (before the PTY line),\n"
        "WEB <verb> <path> <content type or -> <base64 body or -> for each request.\n");
}

bool HttpApi::command(const QString &line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.value(0) != QLatin1String("web"))
        return false;
    const QString name = words.value(1);
    bool ok = true;
    if (name == QLatin1String("silent")) {
        m_silent = words.value(2) != QLatin1String("off");
    } else if (name == QLatin1String("csrf-rotate")) {
        for (const auto &session : std::as_const(m_sessions))
            session->csrfToken = randomToken();
    } else if (name == QLatin1String("logout")) {
        m_sessions.clear();
    } else {
        ok = false;
    }
    report(QStringLiteral("%1 %2").arg(ok ? QStringLiteral("OK") : QStringLiteral("ERR"), line));
    return true;
}

HttpApi::Parse HttpApi::parseRequest(QByteArray &buffer, HttpRequest *request)
{
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return buffer.size() > MaxHeaderBytes ? Parse::TooLarge : Parse::Incomplete;
    if (headEnd > MaxHeaderBytes)
        return Parse::TooLarge;

    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return Parse::Bad;
    HttpRequest parsed;
    parsed.verb = requestLine.at(0);
    const QByteArray target = requestLine.at(1);
    const qsizetype query = target.indexOf('?');
    parsed.path = query < 0 ? target : target.left(query);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return Parse::Bad;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        QByteArray &slot = parsed.headers[name];
        slot = slot.isEmpty() ? value : slot + (name == "cookie" ? "; " : ", ") + value;
    }
    if (parsed.headers.contains("transfer-encoding"))
        return Parse::Bad;

    qsizetype length = 0;
    if (parsed.headers.contains("content-length")) {
        bool ok = false;
        length = parsed.headers.value("content-length").toLongLong(&ok);
        if (!ok || length < 0)
            return Parse::Bad;
        if (length > MaxBodyBytes)
            return Parse::TooLarge;
    }
    if (buffer.size() < headEnd + 4 + length)
        return Parse::Incomplete;
    parsed.body = buffer.mid(headEnd + 4, length);
    buffer.remove(0, headEnd + 4 + length);

    const QByteArray connection = parsed.headers.value("connection").toLower();
    parsed.keepAlive = requestLine.at(2) == "HTTP/1.0" ? connection.contains("keep-alive") : !connection.contains("close");
    *request = parsed;
    return Parse::Complete;
}

void HttpApi::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto *connection = new Connection;
        connection->socket = socket;
        m_connections << connection;
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { onReadyRead(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] { dropConnection(connection); });
    }
}

void HttpApi::dropConnection(Connection *connection)
{
    if (!m_connections.removeOne(connection))
        return;
    if (connection->socket) {
        connection->socket->disconnect(this);
        connection->socket->abort();
        connection->socket->deleteLater();
    }
    delete connection;
}

void HttpApi::onWentDown()
{
    // The device is gone: every connection drops at once and no session survives.
    const QList<Connection *> connections = m_connections;
    for (Connection *connection : connections)
        dropConnection(connection);
    m_sessions.clear();
}

void HttpApi::onReadyRead(Connection *connection)
{
    connection->buffer += connection->socket->readAll();
    // An answer may close the connection (and delete it) before the next turn.
    while (m_connections.contains(connection) && !connection->handling) {
        HttpRequest request;
        const Parse parse = parseRequest(connection->buffer, &request);
        if (parse == Parse::Incomplete)
            return;
        if (parse != Parse::Complete) {
            connection->closeAfterAnswer = true;
            connection->handling = true;
            answer(connection, parse == Parse::TooLarge ? 413 : 400,
                   errorBody(QStringLiteral("bad_request"), QStringLiteral("The request could not be read.")));
            return;
        }
        connection->closeAfterAnswer = !request.keepAlive;
        connection->handling = true;
        handle(connection, request);
    }
}

std::shared_ptr<HttpApi::WebSession> HttpApi::sessionFor(const HttpRequest &request) const
{
    const QByteArray cookie = cookieValue(request.headers.value("cookie"), SessionCookieName);
    if (cookie.isEmpty())
        return nullptr;
    for (const auto &session : m_sessions) {
        if (session->cookie == cookie && session->admin.epoch == m_state->sessionEpoch())
            return session;
    }
    return nullptr;
}

QByteArray HttpApi::randomToken()
{
    return m_state->randomHex(32).toLatin1();
}

std::shared_ptr<HttpApi::WebSession> HttpApi::newSession()
{
    auto session = std::make_shared<WebSession>();
    session->cookie = randomToken();
    session->csrfToken = randomToken();
    return session;
}

void HttpApi::handle(Connection *connection, const HttpRequest &request)
{
    const QByteArray contentType = request.headers.value("content-type");
    report(QStringLiteral("WEB %1 %2 %3 %4")
               .arg(QString::fromLatin1(request.verb), QString::fromLatin1(request.path),
                    contentType.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(contentType),
                    request.body.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(request.body.toBase64())));
    if (m_silent)
        return; // read, never answered: the connection stays busy until the client gives up

    if (m_state->restarting()) {
        answer(connection, 503, errorBody(QStringLiteral("restarting"), QStringLiteral("The device is restarting.")));
        return;
    }

    const Route *route = nullptr;
    bool pathKnown = false;
    for (const Route &candidate : Routes) {
        if (request.path != candidate.path)
            continue;
        pathKnown = true;
        if (request.verb == candidate.verb) {
            route = &candidate;
            break;
        }
    }
    if (!route) {
        if (pathKnown)
            answer(connection, 405, errorBody(QStringLiteral("method_not_allowed"), QStringLiteral("Not allowed on this address.")));
        else
            answer(connection, 404, errorBody(QStringLiteral("not_found"), QStringLiteral("No such address.")));
        return;
    }

    QJsonObject params;
    if (route->body == Body::Form) {
        params = parseForm(request.body);
    } else if (route->body == Body::Json && !request.body.trimmed().isEmpty()) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            answer(connection, 400, errorBody(QStringLiteral("bad_json"), QStringLiteral("The request body is not a JSON object.")));
            return;
        }
        params = document.object();
    }

    const QString method = QString::fromLatin1(route->method);
    const bool login = method == QLatin1String("login");
    std::shared_ptr<WebSession> session = sessionFor(request);
    // A signed-in client proves with the token, on every request, that it is the one the
    // session was handed to.
    if (session && !login && request.headers.value("x-csrf-token") != session->csrfToken) {
        answer(connection, 403, QJsonObject{{QStringLiteral("error"), QStringLiteral("csrf_invalid")},
                                            {QStringLiteral("message"), QStringLiteral("The security token is missing or out of date.")}});
        return;
    }
    if (login || !session)
        session = newSession(); // kept only when the login succeeds

    const QPointer<QTcpSocket> socket = connection->socket;
    const bool dropsConnection = route->dropsConnection;
    m_methods.handle(method, params, session->admin, [this, connection, socket, session, login, dropsConnection, verb = request.verb](const RpcMethods::Reply &reply) {
        if (!socket || !m_connections.contains(connection) || connection->socket != socket)
            return;
        if (!reply.ok) {
            answer(connection, failureStatus(reply.code), errorBody(reply.code, reply.message));
            return;
        }
        if (dropsConnection) {
            dropConnection(connection);
            return;
        }
        QList<QByteArray> headers;
        QJsonValue body = reply.result;
        if (login && session->admin.epoch != 0) {
            m_sessions << session;
            while (m_sessions.size() > MaxSessions)
                m_sessions.removeFirst();
            headers << "Set-Cookie: " + SessionCookieName + '=' + session->cookie + "; Path=/; HttpOnly; SameSite=Strict";
            QJsonObject object = body.toObject();
            object.insert(QStringLiteral("csrf_token"), QString::fromLatin1(session->csrfToken));
            body = object;
        }
        const bool empty = body.isNull() || body.isUndefined() || (body.isObject() && body.toObject().isEmpty());
        if (verb == "POST" && empty) {
            answer(connection, 204, QJsonValue::Undefined, headers);
            return;
        }
        if (!body.isObject() && !body.isArray())
            body = QJsonObject{{QStringLiteral("value"), body}};
        answer(connection, 200, body, headers);
    });
}

void HttpApi::answer(Connection *connection, int status, const QJsonValue &body, const QList<QByteArray> &extraHeaders)
{
    QByteArray payload;
    if (body.isObject())
        payload = QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact);
    else if (body.isArray())
        payload = QJsonDocument(body.toArray()).toJson(QJsonDocument::Compact);

    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + statusText(status) + "\r\n";
    if (status != 204) {
        head += "Content-Type: application/json\r\n";
        head += "Content-Length: " + QByteArray::number(payload.size()) + "\r\n";
    }
    for (const QByteArray &header : extraHeaders)
        head += header + "\r\n";
    if (connection->closeAfterAnswer)
        head += "Connection: close\r\n";
    head += "\r\n";
    connection->socket->write(head + payload);

    connection->handling = false;
    if (connection->closeAfterAnswer) {
        connection->socket->disconnectFromHost();
        return;
    }
    // Requests that arrived while this one was handled.
    if (!connection->buffer.isEmpty())
        QMetaObject::invokeMethod(this, [this, connection, socket = connection->socket] {
            if (socket && m_connections.contains(connection) && connection->socket == socket)
                onReadyRead(connection);
        }, Qt::QueuedConnection);
}

} // namespace corvane::devsim
