#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpSocket>

namespace corvane::test {

// A client that collects the server's lines as they arrive.
class LineClient : public QObject {
public:
    explicit LineClient(quint16 port)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            pending += socket.readAll();
            qsizetype nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                lines << pending.left(nl);
                pending.remove(0, nl + 1);
            }
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    QByteArray take() { return lines.isEmpty() ? QByteArray() : lines.takeFirst(); }

    QTcpSocket socket;
    QList<QByteArray> lines;
    QByteArray pending; // bytes after the last line feed; must stay empty
};

} // namespace corvane::test
