#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class QTcpSocket;

namespace corvane {

// Dials, on a relay's socket, the addresses its target resolved to, one after another until
// one answers, IPv6 and IPv4 addresses taking turns. Each address gets at most the connect
// deadline: a dial that is never answered (a dropped SYN: a black-holed route, a silent
// firewall) would otherwise hold the relay for Qt's own connect timeout, a minute an address
// (two tries of 30 s), long after the device's request gave up. The default lets a lossy but
// live path retransmit its SYN three times (at 1, 3 and 7 s), and still tries both families
// of a dual-stack host within 20 s, the deadline this system gives its own network requests
// (a device RPC, a portal call), however many addresses the first family has.
class RelayDial : public QObject {
    Q_OBJECT
public:
    using Failed = std::function<void(const QString &error)>;

    static constexpr std::chrono::milliseconds DefaultConnectDeadline{10000};

    // Starts dialling `addresses` at `port` on `socket`, whose child the dial becomes.
    // `failed` is called once, with the last address's reason, when none of them connected;
    // it is never called after the socket connected or was dropped.
    static void start(QTcpSocket *socket, const QList<QHostAddress> &addresses, quint16 port, Failed failed);
    // Disconnects `socket` from `owner`, ends its dial, aborts it and deletes it later.
    static void drop(QTcpSocket *socket, QObject *owner);

    // Test seam: a never-answering peer would otherwise hold a test for the full default.
    static void setConnectDeadlineForTesting(std::chrono::milliseconds deadline);

private:
    RelayDial(QTcpSocket *socket, const QList<QHostAddress> &addresses, quint16 port, Failed failed);

    void dialNext();
    void onError();
    void onDeadline();
    void finish(const QString &error);
    void stop();

    QTcpSocket *m_socket;
    QList<QHostAddress> m_untried;
    quint16 m_port;
    Failed m_failed;
    QTimer m_deadline;
    bool m_active = true;
};

} // namespace corvane
