#include "device/usb/RelayDial.h"

#include <QTcpSocket>

#include <atomic>
#include <utility>

namespace corvane {

namespace {

std::atomic<std::chrono::milliseconds::rep> g_connectDeadline{RelayDial::DefaultConnectDeadline.count()};

// The addresses taking turns by family, the first address's family first. A family that
// never answers (an IPv6 path that drops everything while IPv4 works) then costs one
// deadline before the other family is tried, not one for each of its addresses.
QList<QHostAddress> alternateFamilies(const QList<QHostAddress> &addresses)
{
    QList<QHostAddress> first;
    QList<QHostAddress> other;
    for (const QHostAddress &address : addresses)
        (address.protocol() == addresses.first().protocol() ? first : other).append(address);
    QList<QHostAddress> order;
    for (qsizetype i = 0; i < qMax(first.size(), other.size()); ++i) {
        if (i < first.size())
            order.append(first.at(i));
        if (i < other.size())
            order.append(other.at(i));
    }
    return order;
}

} // namespace

RelayDial::RelayDial(QTcpSocket *socket, const QList<QHostAddress> &addresses, quint16 port, Failed failed)
    : QObject(socket)
    , m_socket(socket)
    , m_untried(alternateFamilies(addresses))
    , m_port(port)
    , m_failed(std::move(failed))
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &RelayDial::onDeadline);
    connect(socket, &QTcpSocket::errorOccurred, this, &RelayDial::onError);
    connect(socket, &QTcpSocket::connected, this, &RelayDial::stop);
}

void RelayDial::start(QTcpSocket *socket, const QList<QHostAddress> &addresses, quint16 port, Failed failed)
{
    (new RelayDial(socket, addresses, port, std::move(failed)))->dialNext();
}

void RelayDial::drop(QTcpSocket *socket, QObject *owner)
{
    if (!socket)
        return;
    socket->disconnect(owner);
    if (auto *dial = socket->findChild<RelayDial *>(QString(), Qt::FindDirectChildrenOnly))
        dial->stop();
    socket->abort();
    socket->deleteLater();
}

void RelayDial::setConnectDeadlineForTesting(std::chrono::milliseconds deadline)
{
    g_connectDeadline.store(deadline.count());
}

void RelayDial::dialNext()
{
    if (!m_active)
        return;
    if (m_untried.isEmpty()) {
        finish(m_socket->errorString());
        return;
    }
    m_deadline.start(std::chrono::milliseconds(g_connectDeadline.load()));
    m_socket->connectToHost(m_untried.takeFirst(), m_port);
}

void RelayDial::onError()
{
    if (!m_active || m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    m_deadline.stop();
    if (m_untried.isEmpty()) {
        finish(m_socket->errorString());
        return;
    }
    // From the event loop: a socket that reports an error may not be ready to dial again yet.
    QTimer::singleShot(0, this, &RelayDial::dialNext);
}

void RelayDial::onDeadline()
{
    if (!m_active)
        return;
    // Aborting a dial reports no error, so the next address, or the failure, follows here.
    m_socket->abort();
    if (m_untried.isEmpty())
        finish(QAbstractSocket::tr("Connection timed out"));
    else
        dialNext();
}

void RelayDial::finish(const QString &error)
{
    stop();
    if (Failed failed = std::exchange(m_failed, nullptr))
        failed(error);
}

void RelayDial::stop()
{
    m_active = false;
    m_deadline.stop();
}

} // namespace corvane
