#include "EchoServer.h"

#include <QTcpSocket>

namespace corvane::devsim {

EchoServer::EchoServer(QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->write(socket->readAll()); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool EchoServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

} // namespace corvane::devsim
