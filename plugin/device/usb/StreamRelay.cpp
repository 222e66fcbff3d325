#include "device/usb/StreamRelay.h"

#include "base/Log.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/RelayDial.h"
#include "device/usb/RelayTargets.h"

#include <QTcpSocket>

namespace corvane {

StreamRelay::StreamRelay(QObject *parent)
    : QObject(parent)
{
}

StreamRelay::~StreamRelay()
{
    for (const Stream &stream : std::as_const(m_streams))
        RelayDial::drop(stream.socket, this);
}

void StreamRelay::configure(const QJsonObject &streams)
{
    reset();
    m_routes.clear();
    m_routeNames.clear();
    for (auto it = streams.begin(); it != streams.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const QString host = entry.value(QLatin1String("host")).toString();
        const qint64 port = entry.value(QLatin1String("port")).toInteger(0);
        if (host.isEmpty() || port <= 0 || port > 65535 || host.contains(QLatin1Char(' ')))
            continue;
        m_routes.insert(it.key(), Route{host, quint16(port)});
        m_routeNames.append(it.key());
    }
    Q_EMIT statusChanged();
}

void StreamRelay::reset()
{
    const QHash<quint8, Stream> streams = std::exchange(m_streams, {});
    for (const Stream &stream : streams)
        RelayDial::drop(stream.socket, this);
    m_openCount = 0;
    m_lastError.clear();
    Q_EMIT statusChanged();
}

void StreamRelay::fromDevice(const QByteArray &payload)
{
    StreamMessage message;
    if (!parseStreamMessage(payload, message))
        return;
    const quint8 id = message.id;
    switch (message.op) {
    case StreamOp::Open:
        if (id != 0 && !message.data.isEmpty())
            openStream(id, QString::fromUtf8(message.data));
        return;
    case StreamOp::Data: {
        auto it = m_streams.find(id);
        if (it == m_streams.end() || message.data.isEmpty())
            return;
        m_bytesFromDevice += quint64(message.data.size());
        if (it->connected && it->socket)
            it->socket->write(message.data);
        else if (it->pending.size() + message.data.size() <= MaxPending)
            it->pending += message.data;
        return;
    }
    case StreamOp::Close:
        if (m_streams.contains(id))
            closeStream(id, false);
        return;
    case StreamOp::Credit: {
        auto it = m_streams.find(id);
        if (it == m_streams.end())
            return;
        // Summed wide so that a huge grant cannot wrap around to a small allowance.
        it->credit = quint32(qMin<quint64>(quint64(it->credit) + message.credit, MaxCredit));
        pumpStream(id);
        return;
    }
    case StreamOp::Opened:
    case StreamOp::Error:
        return;
    }
}

void StreamRelay::openStream(quint8 id, const QString &name)
{
    if (m_streams.contains(id))
        closeStream(id, false);
    if (!m_enabled) {
        sendError(id, QByteArrayLiteral("disabled"));
        return;
    }
    if (!m_routes.contains(name)) {
        sendError(id, QByteArrayLiteral("unknown_stream"));
        return;
    }
    const Route route = m_routes.value(name);
    QTcpSocket *socket = m_socketFactory ? m_socketFactory() : new QTcpSocket(this);
    if (!socket) {
        sendError(id, QByteArrayLiteral("dial_failed"));
        return;
    }
    if (!socket->parent())
        socket->setParent(this);
    Stream stream;
    stream.socket = socket;
    m_streams.insert(id, stream);
    connect(socket, &QTcpSocket::connected, this, [this, id, socket] {
        if (owns(id, socket) && socket->peerPort() != 0)
            onConnected(id);
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, id, socket] {
        if (owns(id, socket))
            pumpStream(id);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, id, socket] {
        if (!owns(id, socket))
            return;
        m_streams[id].peerClosed = true;
        pumpStream(id);
    });
    RelayTargets::resolve(route.host, socket, [this, id, socket, route](const RelayTargets::Target &target) {
        if (!owns(id, socket))
            return;
        if (target.addresses.isEmpty()) {
            const QString where = QStringLiteral("%1 port %2").arg(route.host).arg(route.port);
            if (target.refused && !m_refusalsLogged.contains(where)) {
                m_refusalsLogged.insert(where);
                CORVANE_LOG_WARNING("USB stream relay: refused %s, an address of this computer or its local network",
                                    qUtf8Printable(where));
            }
            failDial(id, target.error);
            return;
        }
        // Until the connection is up, the dial answers for the socket's errors; after it,
        // an error ends in a disconnection, which closes the stream.
        RelayDial::start(socket, target.addresses, route.port, [this, id, socket](const QString &error) {
            if (owns(id, socket))
                failDial(id, error);
        });
    });
}

bool StreamRelay::owns(quint8 id, const QTcpSocket *socket) const
{
    const auto it = m_streams.constFind(id);
    return it != m_streams.cend() && it->socket == socket;
}

void StreamRelay::onConnected(quint8 id)
{
    Stream &stream = m_streams[id];
    stream.connected = true;
    m_lastError.clear();
    Q_EMIT toDevice(encodeStreamMessage(id, StreamOp::Opened));
    // The device may have answered Opened with a Close already.
    if (!m_streams.contains(id))
        return;
    Stream &current = m_streams[id];
    if (!current.pending.isEmpty()) {
        current.socket->write(current.pending);
        current.pending.clear();
    }
    recount();
    Q_EMIT statusChanged();
    pumpStream(id);
}

void StreamRelay::failDial(quint8 id, const QString &error)
{
    m_lastError = error;
    closeStream(id, false);
    Q_EMIT toDevice(streamErrorMessage(id, QByteArrayLiteral("dial_failed")));
    Q_EMIT statusChanged();
}

void StreamRelay::pumpStream(quint8 id)
{
    auto it = m_streams.find(id);
    if (it == m_streams.end() || !it->connected || !it->socket)
        return;
    QTcpSocket *socket = it->socket;
    while (it->credit > 0 && socket->bytesAvailable() > 0) {
        const qint64 size = qMin<qint64>(qMin<qint64>(it->credit, socket->bytesAvailable()), kMaxStreamData);
        const QByteArray bytes = socket->read(size);
        if (bytes.isEmpty())
            break;
        it->credit -= quint32(bytes.size());
        m_bytesToDevice += quint64(bytes.size());
        Q_EMIT toDevice(encodeStreamMessage(id, StreamOp::Data, bytes));
        // A receiver of toDevice may have reset the relay.
        it = m_streams.find(id);
        if (it == m_streams.end() || it->socket != socket)
            return;
    }
    if (it->peerClosed && socket->bytesAvailable() <= 0)
        closeStream(id, true);
}

void StreamRelay::closeStream(quint8 id, bool tellDevice)
{
    const Stream stream = m_streams.take(id);
    RelayDial::drop(stream.socket, this);
    if (tellDevice)
        Q_EMIT toDevice(encodeStreamMessage(id, StreamOp::Close));
    recount();
    Q_EMIT statusChanged();
}

void StreamRelay::sendError(quint8 id, const QByteArray &reason)
{
    m_lastError = QString::fromUtf8(reason);
    Q_EMIT toDevice(streamErrorMessage(id, reason));
    Q_EMIT statusChanged();
}

void StreamRelay::recount()
{
    int count = 0;
    for (const Stream &stream : std::as_const(m_streams))
        count += stream.connected ? 1 : 0;
    m_openCount = count;
}

} // namespace corvane
