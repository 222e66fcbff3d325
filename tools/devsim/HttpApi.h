#pragma once

#include "RpcMethods.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QTcpServer;
class QTcpSocket;

namespace corvane::devsim {

class DeviceState;

// One HTTP/1.1 request as read from a connection.
struct HttpRequest {
    QByteArray verb;
    QByteArray path; // without the query
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    bool keepAlive = true;
};

// The device's web API over plain HTTP: every route maps onto an RPC method of the same
// DeviceState the USB line serves. "login" hands out a session cookie and a CSRF token;
// every later request with that cookie must carry the token (403 "csrf_invalid" if not). A restart closes every connection,
// and the device answers 503 until it is back. Each request is reported on stdout as
// "WEB <verb> <path> <content type or -> <base64 body or ->".
class HttpApi : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxHeaderBytes = 16 * 1024;
    static constexpr qsizetype MaxBodyBytes = 256 * 1024;
    static constexpr int MaxSessions = 16;

    explicit HttpApi(DeviceState *state, QObject *parent = nullptr);
    ~HttpApi() override;

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    QHostAddress serverAddress() const;
    quint16 serverPort() const;

    // One line from the control channel. Lines that start with "web" are this server's
    // (answered "OK ..." or "ERR ..."); false for any other line.
    bool command(const QString &line);
    static QString commands();

    enum class Parse { Incomplete, Complete, Bad, TooLarge };
    // Takes one request off the front of `buffer` when it is whole.
    static Parse parseRequest(QByteArray &buffer, HttpRequest *request);

private:
    struct Connection;
    struct WebSession {
        AdminSession admin;
        QByteArray cookie; // the cookie's value
        QByteArray csrfToken;
    };

    void onNewConnection();
    void onReadyRead(Connection *connection);
    void handle(Connection *connection, const HttpRequest &request);
    void answer(Connection *connection, int status, const QJsonValue &body, const QList<QByteArray> &extraHeaders = {});
    void dropConnection(Connection *connection);
    void onWentDown();
    std::shared_ptr<WebSession> sessionFor(const HttpRequest &request) const;
    std::shared_ptr<WebSession> newSession();
    QByteArray randomToken();

    DeviceState *m_state;
    RpcMethods m_methods;
    QTcpServer *m_server;
    QList<Connection *> m_connections;
    QList<std::shared_ptr<WebSession>> m_sessions; // oldest first
    bool m_silent = false;
};

} // namespace corvane::devsim
