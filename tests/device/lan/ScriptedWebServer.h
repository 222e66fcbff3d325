#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A web server in a test: records every request exactly as it arrived and answers from a
// script of raw responses by path. A path without a script entry is never answered (the
// connection stays open), and a path scripted to hang up is closed without an answer.
class ScriptedWebServer : public QObject {
public:
    struct Request {
        QByteArray requestLine;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        QByteArray header(const char *name) const { return headers.value(QByteArray(name)); }
        bool hasHeader(const char *name) const { return headers.contains(QByteArray(name)); }
    };

    explicit ScriptedWebServer(const QHostAddress &address = QHostAddress::LocalHost)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { onNewConnection(); });
        m_listening = m_server.listen(address, 0);
    }

    bool isListening() const { return m_listening; }
    quint16 port() const { return m_server.serverPort(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }

    void answer(const QByteArray &path, const QByteArray &response) { m_script.insert(path, response); }
    void hangUp(const QByteArray &path) { m_script.insert(path, QByteArray()); }
    void forget(const QByteArray &path) { m_script.remove(path); }

    static QByteArray response(int status, const QByteArray &body, const QList<QByteArray> &headers = {})
    {
        QByteArray raw = "HTTP/1.1 " + QByteArray::number(status) + " X\r\n";
        for (const QByteArray &header : headers)
            raw += header + "\r\n";
        if (status != 204)
            raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        return raw + "\r\n" + body;
    }

    QList<Request> requests;
    int connections = 0;

private:
    struct Client {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
    };

    void onNewConnection()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++connections;
            auto *client = new Client{socket, {}};
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, client] { onReadyRead(client); });
            QObject::connect(socket, &QObject::destroyed, this, [client] { delete client; });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void onReadyRead(Client *client)
    {
        client->buffer += client->socket->readAll();
        for (;;) {
            const qsizetype headEnd = client->buffer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            Request request;
            const QList<QByteArray> lines = client->buffer.left(headEnd).split('\n');
            request.requestLine = lines.value(0).trimmed();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines.at(i).indexOf(':');
                request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
            }
            const qsizetype length = request.headers.value("content-length").toLongLong();
            if (client->buffer.size() < headEnd + 4 + length)
                return;
            request.body = client->buffer.mid(headEnd + 4, length);
            client->buffer.remove(0, headEnd + 4 + length);
            requests << request;

            const QByteArray path = request.requestLine.split(' ').value(1);
            const auto scripted = m_script.constFind(path);
            if (scripted == m_script.cend())
                return; // never answered
            if (scripted->isEmpty()) {
                client->socket->abort();
                return;
            }
            client->socket->write(*scripted);
        }
    }

    QTcpServer m_server;
    bool m_listening = false;
    QHash<QByteArray, QByteArray> m_script;
};
