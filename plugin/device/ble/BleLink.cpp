#include "device/ble/BleLink.h"

#include "device/ble/BleBridge.h"
#include "device/ble/BleTransport.h"

#include <QPointer>

namespace corvane {

BleLink::BleLink(const QString &address, const QString &label, QObject *parent)
    : BleLink(address, label, BleBridge::instance(), parent)
{
}

BleLink::BleLink(const QString &address, const QString &label, BleBridge *bridge, QObject *parent)
    : DeviceLink(parent)
    , m_address(address)
    , m_label(label)
    , m_bridge(bridge)
    , m_transport(new BleTransport(bridge, this))
{
    connect(bridge, &BleBridge::dataReceived, this, &BleLink::onData);
    connect(bridge, &BleBridge::disconnected, this, &BleLink::onDisconnected);
    connect(bridge, &BleBridge::helperStopped, this, &BleLink::onHelperStopped);
}

BleLink::~BleLink()
{
    close();
}

QString BleLink::linkLostText()
{
    return QStringLiteral("Bluetooth link lost");
}

QString BleLink::helperStoppedText()
{
    return QStringLiteral("The Bluetooth helper stopped");
}

RpcTransport *BleLink::rpcTransport() const
{
    return m_transport;
}

void BleLink::open()
{
    const quint32 attempt = ++m_attempt;
    const QPointer<BleLink> self(this);
    m_bridge->start([self, attempt](const BleReply &started) {
        BleLink *link = self.data();
        if (link && link->m_attempt == attempt)
            link->onStarted(started, attempt);
    });
}

void BleLink::onStarted(const BleReply &started, quint32 attempt)
{
    if (!started.ok) {
        Q_EMIT failed(started.code, started.message);
        return;
    }
    const QPointer<BleLink> self(this);
    m_bridge->request(QStringLiteral("connect"), QJsonObject{{QStringLiteral("id"), m_address}}, [self, attempt](const BleReply &reply) {
        BleLink *link = self.data();
        if (link && link->m_attempt == attempt)
            link->onConnected(reply);
    }, kConnectTimeoutMs);
}

void BleLink::onConnected(const BleReply &reply)
{
    if (!reply.ok) {
        Q_EMIT failed(reply.code, reply.message);
        return;
    }
    m_linkOpen = true;
    m_transport->connectLink(reply.result.value(QLatin1String("writePayload")).toInt(20));
    Q_EMIT opened(QJsonObject());
}

void BleLink::close()
{
    ++m_attempt;
    if (!m_linkOpen)
        return;
    m_linkOpen = false;
    m_transport->resetTransport();
    m_bridge->request(QStringLiteral("disconnect"), {}, {}, kDisconnectTimeoutMs);
}

void BleLink::onData(const QByteArray &bytes)
{
    if (m_linkOpen)
        m_transport->feed(bytes);
}

void BleLink::onDisconnected(const QString &reason)
{
    loseLink(reason.isEmpty() ? linkLostText() : reason);
}

void BleLink::onHelperStopped()
{
    loseLink(helperStoppedText());
}

void BleLink::loseLink(const QString &reason)
{
    if (!m_linkOpen)
        return;
    m_linkOpen = false;
    m_transport->resetTransport();
    Q_EMIT closed(reason);
}

} // namespace corvane
