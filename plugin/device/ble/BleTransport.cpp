#include "device/ble/BleTransport.h"

#include "device/ble/BleAssembler.h"
#include "device/ble/BleBridge.h"

#include <QJsonObject>
#include <QPointer>

namespace corvane {

BleTransport::BleTransport(BleBridge *bridge, QObject *parent)
    : RpcTransport(parent)
    , m_bridge(bridge)
{
    m_assembler.setErrorCallback([this](const QString &text) { Q_EMIT sendFailed(QStringLiteral("truncated"), text); });
}

BleTransport::~BleTransport() = default;

QString BleTransport::notPairedText()
{
    return QStringLiteral(
        "This computer is not paired with the device yet. Pair it once with the 6-digit passkey from the device's label or "
        "your Corvane account (macOS asks automatically; on Windows pair it in Bluetooth settings first), then connect again.");
}

void BleTransport::connectLink(int writeSize)
{
    m_connected = true;
    m_writeSize = writeSize;
    m_assembler.reset();
    m_writeQueue.clear();
    m_writeInFlight = false;
}

void BleTransport::resetTransport()
{
    m_connected = false;
    m_writeSize = 20;
    m_assembler.reset();
    m_writeQueue.clear();
    m_writeInFlight = false;
}

void BleTransport::feed(const QByteArray &bytes)
{
    const QList<QByteArray> messages = m_assembler.feed(bytes);
    for (const QByteArray &message : messages)
        Q_EMIT this->message(message);
}

void BleTransport::send(const QByteArray &json)
{
    if (!m_connected) {
        Q_EMIT sendFailed(QStringLiteral("disconnected"), QStringLiteral("Not connected to a device"));
        return;
    }
    m_lastSequence = m_lastSequence % 255 + 1;
    const QList<QByteArray> chunks = fragmentForBle(json, m_writeSize, quint8(m_lastSequence));
    if (chunks.isEmpty()) {
        Q_EMIT sendFailed(QStringLiteral("request_too_large"), QStringLiteral("That request is too large for the device"));
        return;
    }
    m_writeQueue << chunks;
    pumpWrites();
}

void BleTransport::pumpWrites()
{
    if (m_writeInFlight || m_writeQueue.isEmpty())
        return;
    m_writeInFlight = true;
    const QByteArray chunk = m_writeQueue.takeFirst();
    const QPointer<BleTransport> self(this);
    m_bridge->request(QStringLiteral("write"), QJsonObject{{QStringLiteral("b64"), QString::fromLatin1(chunk.toBase64())}},
                      [self](const BleReply &reply) {
                          if (BleTransport *transport = self.data())
                              transport->onWritten(reply);
                      },
                      kWriteTimeoutMs);
}

void BleTransport::onWritten(const BleReply &reply)
{
    m_writeInFlight = false;
    if (!reply.ok) {
        // The rest of this message, and every message queued behind it, is lost with it.
        m_writeQueue.clear();
        Q_EMIT sendFailed(reply.code, reply.code == QLatin1String("not_paired") ? notPairedText() : reply.message);
        return;
    }
    pumpWrites();
}

} // namespace corvane
