#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// Plays the plugin towards one corvane-ble-helper: listens on loopback, starts the helper
// with that port and a token in its environment, and reads and writes its lines raw.
class HelperPeer {
public:
    // `simAddress`: the simulated radio ("127.0.0.1:PORT"); empty for the real platform.
    // `token`: the hello token, none when null; `extra` follows the port on the command line.
    explicit HelperPeer(const QString &simAddress, const QByteArray &token = "t0k3n", const QStringList &extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("CORVANE_BLE_SIM"));
        env.remove(QStringLiteral("CORVANE_BLE_TOKEN"));
        if (!simAddress.isEmpty())
            env.insert(QStringLiteral("CORVANE_BLE_SIM"), simAddress);
        if (!token.isNull())
            env.insert(QStringLiteral("CORVANE_BLE_TOKEN"), QString::fromLatin1(token));
        process.setProcessEnvironment(env);
        if (!server.listen(QHostAddress::LocalHost))
            qFatal("cannot listen");
        process.start(QStringLiteral(CORVANE_BLE_HELPER), QStringList{QStringLiteral("--port"), QString::number(server.serverPort())} + extra);
        if (server.waitForNewConnection(10000))
            socket = server.nextPendingConnection();
    }
    ~HelperPeer()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    void send(const QByteArray &bytes)
    {
        socket->write(bytes);
        socket->flush();
    }
    // The next line without its line feed; empty when none came in time.
    QByteArray line(int timeoutMs = 15000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!socket->canReadLine()) {
            if (deadline.hasExpired() || !socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                return socket->canReadLine() ? socket->readLine().chopped(1) : QByteArray();
        }
        return socket->readLine().chopped(1);
    }
    // The next line that is not an event.
    QByteArray reply(int timeoutMs = 15000)
    {
        for (;;) {
            const QByteArray next = line(timeoutMs);
            if (!next.startsWith("{\"ev\""))
                return next;
        }
    }
    QByteArray request(const QByteArray &body)
    {
        send(body + '\n');
        return reply();
    }
    int exitCode(int timeoutMs = 10000)
    {
        return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QTcpServer server;
    QTcpSocket *socket = nullptr;
    QProcess process;
};
