#include "device/usb/CloudRelay.h"

#include "base/Log.h"
#include "device/usb/RelayTargets.h"

#include <QTcpSocket>
#include <QTimer>

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
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        if (socket == m_socket)
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
            onResolved(target.error, target.refused);
            return;
        }
        m_untried = target.addresses;
        dialNext();
    });
}

void CloudRelay::dialNext()
{
    if (QTcpSocket *socket = m_socket; socket && !m_untried.isEmpty())
        socket->connectToHost(m_untried.takeFirst(), quint16(m_port));
}

void CloudRelay::onResolved(const QString &error, bool refused)
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
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    m_untried.clear();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
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
    // The host has further addresses: the next is dialled from the event loop, since a
    // socket that reports an error may not be ready to dial again yet.
    if (!m_connected && socket->state() == QAbstractSocket::UnconnectedState && !m_untried.isEmpty()) {
        QTimer::singleShot(0, socket, [this, socket] {
            if (socket == m_socket)
                dialNext();
        });
        return;
    }
    m_lastError = socket->errorString();
    m_connected = false;
    // A dial that failed never reports a disconnection; without dropping it here the dead
    // socket would block every later attempt and the device bytes would pile up.
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
