#include "device/usb/CloudRelay.h"

#include "base/Log.h"
#include "device/usb/RelayDial.h"
#include "device/usb/RelayTargets.h"

#include <QTcpSocket>

#include <utility>

namespace corvane {

CloudRelay::CloudRelay(QObject *parent)
    : QObject(parent)
{
}

CloudRelay::~CloudRelay()
{
    dropSocket();
}

void CloudRelay::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (!enabled) {
        dropSocket();
        m_connected = false;
        m_pending.clear();
    }
    Q_EMIT statusChanged();
}

void CloudRelay::setTarget(const QString &host, int port)
{
    dropSocket();
    m_connected = false;
    m_pending.clear();
    m_host = host;
    m_port = port;
    m_targetValid = !host.isEmpty() && port >= 1;
    m_targetRefused = false;
    m_lastError.clear();
    Q_EMIT statusChanged();
}

void CloudRelay::reset()
{
    dropSocket();
    m_connected = false;
    m_pending.clear();
    Q_EMIT statusChanged();
}

void CloudRelay::fromDevice(const QByteArray &bytes)
{
    if (bytes.isEmpty() || !m_enabled || !m_targetValid || m_targetRefused)
        return;
    m_bytesUp += quint64(bytes.size());
    if (QTcpSocket *socket = m_socket; socket && m_connected) {
        socket->write(bytes);
        return;
    }
    if (m_pending.size() + bytes.size() <= MaxPending)
        m_pending += bytes;
    ensureConnected();
}

void CloudRelay::ensureConnected()
{
    if (m_socket || !m_enabled || !m_targetValid)
        return;
    QTcpSocket *socket = m_socketFactory ? m_socketFactory() : new QTcpSocket(this);
    if (!socket)
        return;
    if (!socket->parent())
        socket->setParent(this);
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        if (socket == m_socket)
            onConnected();
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket == m_socket)
            onReadyRead();
    });
    // Until the connection is up, the dial answers for the socket's errors.
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        if (socket == m_socket && m_connected)
            onError();
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (socket == m_socket)
            onDisconnected();
    });
    // The socket stands for the dial while the name resolves, so bytes meanwhile only wait.
    RelayTargets::resolve(m_host, socket, [this, socket](const RelayTargets::Target &target) {
        if (socket != m_socket)
            return;
        if (target.addresses.isEmpty()) {
            failDial(target.error, target.refused);
            return;
        }
        RelayDial::start(socket, target.addresses, quint16(m_port), [this, socket](const QString &error) {
            if (socket == m_socket)
                failDial(error, false);
        });
    });
}

void CloudRelay::failDial(const QString &error, bool refused)
{
    if (refused) {
        m_targetRefused = true;
        m_pending.clear();
        const QString where = QStringLiteral("%1 port %2").arg(m_host).arg(m_port);
        if (where != m_refusalLogged) {
            m_refusalLogged = where;
            CORVANE_LOG_WARNING("USB cloud relay: refused %s, an address of this computer or its local network", qUtf8Printable(where));
        }
    }
    m_lastError = error;
    m_connected = false;
    dropSocket();
    Q_EMIT statusChanged();
}

void CloudRelay::dropSocket()
{
    RelayDial::drop(std::exchange(m_socket, nullptr), this);
}

void CloudRelay::onConnected()
{
    QTcpSocket *socket = m_socket;
    if (!socket)
        return;
    m_connected = true;
    m_lastError.clear();
    if (!m_pending.isEmpty()) {
        socket->write(m_pending);
        m_pending.clear();
    }
    Q_EMIT statusChanged();
}

void CloudRelay::onReadyRead()
{
    QTcpSocket *socket = m_socket;
    if (!socket)
        return;
    const QByteArray bytes = socket->readAll();
    m_bytesDown += quint64(bytes.size());
    if (!bytes.isEmpty())
        Q_EMIT toDevice(bytes);
}

void CloudRelay::onError()
{
    QTcpSocket *socket = m_socket;
    if (!socket)
        return;
    m_lastError = socket->errorString();
    m_connected = false;
    // A socket that ends in an error may report no disconnection; without dropping it here
    // the dead socket would block every later attempt and the device bytes would pile up.
    if (socket->state() == QAbstractSocket::UnconnectedState)
        dropSocket();
    Q_EMIT statusChanged();
}

void CloudRelay::onDisconnected()
{
    if (QTcpSocket *remaining = m_socket; remaining && remaining->bytesAvailable() > 0)
        onReadyRead();
    QTcpSocket *socket = m_socket;
    if (!socket)
        return; // the bytes above made the link reset the relay
    m_socket = nullptr;
    socket->disconnect(this);
    socket->deleteLater();
    m_connected = false;
    Q_EMIT statusChanged();
}

} // namespace corvane
