#include "FileServer.h"

#include <QTcpSocket>

namespace corvane::devsim {

FileServer::FileServer(const QByteArray &content, QObject *parent)
    : QTcpServer(parent)
    , m_content(content)
{
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->write(m_content);
            socket->disconnectFromHost(); // after the bytes are written
        }
    });
}

bool FileServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

QByteArray FileServer::pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 0x12345678;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

} // namespace corvane::devsim
