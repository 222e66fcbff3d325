#include "device/usb/UsbLink.h"

#include "device/usb/CloudRelay.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/SerialPort.h"
#include "device/usb/StreamRelay.h"
#include "device/usb/UsbAdminTransport.h"

#include <QJsonDocument>
#include <QPointer>
#include <QTimer>

namespace corvane {

namespace {

const QString NoResponseText = QStringLiteral(
    "This USB port did not answer like a Corvane device. Check the cable and that the device has finished starting.");

} // namespace

UsbLink::UsbLink(const QString &portName, QObject *parent, SerialPort::ReadMode readMode)
    : DeviceLink(parent)
    , m_portName(portName)
    , m_port(new SerialPort(readMode, this))
    , m_transport(new UsbAdminTransport(m_port, this))
    , m_cloudRelay(new CloudRelay(this))
    , m_streamRelay(new StreamRelay(this))
    , m_helloTimer(new QTimer(this))
    , m_pingTimer(new QTimer(this))
    , m_receiverTimer(new QTimer(this))
    , m_paceTimer(new QTimer(this))
{
    m_receiverTimer->setSingleShot(true);
    // A coarse timer may fire a little early; the pace is a minimum spacing on the wire.
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    applyTiming(Timing{});

    connect(m_cloudRelay, &CloudRelay::toDevice, this, &UsbLink::queueTunnel);
    connect(m_streamRelay, &StreamRelay::toDevice, this, &UsbLink::queueStream);
    connect(m_cloudRelay, &CloudRelay::statusChanged, this, &UsbLink::tunnelChanged);
    connect(m_streamRelay, &StreamRelay::statusChanged, this, &UsbLink::tunnelChanged);
    connect(m_cloudRelay, &CloudRelay::statusChanged, this, &UsbLink::onRelayStatus);
    connect(m_port, &SerialPort::readyRead, this, &UsbLink::onReadyRead);
    connect(m_port, &SerialPort::errorOccurred, this, &UsbLink::onPortError);
    connect(m_helloTimer, &QTimer::timeout, this, &UsbLink::helloStep);
    connect(m_pingTimer, &QTimer::timeout, this, &UsbLink::pingStep);
    connect(m_receiverTimer, &QTimer::timeout, this, &UsbLink::receiverTimedOut);
    connect(m_paceTimer, &QTimer::timeout, this, &UsbLink::paceStep);
}

UsbLink::~UsbLink()
{
    // Destruction is silent, and a pending receiver callback is dropped uncalled.
    m_cloudRelay->disconnect(this);
    m_streamRelay->disconnect(this);
    m_receiverCallback = nullptr;
    close();
}

void UsbLink::setTimingForTests(const Timing &timing)
{
    applyTiming(timing);
}

void UsbLink::applyTiming(const Timing &timing)
{
    m_timing = timing;
    m_helloTimer->setInterval(timing.helloIntervalMs);
    m_pingTimer->setInterval(timing.pingIntervalMs);
    m_paceTimer->setInterval(timing.paceIntervalMs);
}

RpcTransport *UsbLink::rpcTransport() const
{
    return m_transport;
}

void UsbLink::open()
{
    close();
    QString error;
    if (!m_port->open(m_portName, &error)) {
        Q_EMIT failed(QStringLiteral("open_failed"), error);
        return;
    }
    m_receiveBuffer.clear();
    m_assembler.reset();
    m_helloAnswered = false;
    m_receiverStatus = QJsonObject();
    m_tunnelInfo = QJsonObject();
    m_cloudRelay->setTarget(QString(), 0);
    m_streamRelay->configure(QJsonObject());
    m_helloClock.start();
    sendControl(helloRequest());
    m_helloTimer->start();
    m_pingTimer->start();
}

void UsbLink::close()
{
    m_helloTimer->stop();
    m_pingTimer->stop();
    m_paceTimer->stop();
    m_outQueue.clear();
    m_port->close();
    m_helloAnswered = false;
    m_cloudRelay->reset();
    m_streamRelay->reset();
}

void UsbLink::sendControl(const QJsonObject &message)
{
    m_port->write(encodeControl(message));
}

void UsbLink::helloStep()
{
    if (m_helloAnswered) {
        m_helloTimer->stop();
        return;
    }
    if (m_helloClock.elapsed() <= m_timing.helloGiveUpMs) {
        sendControl(helloRequest());
        return;
    }
    m_helloTimer->stop();
    Q_EMIT failed(QStringLiteral("no_response"), NoResponseText);
}

void UsbLink::pingStep()
{
    if (m_port->isOpen())
        sendControl(pingRequest());
}

void UsbLink::onPortError(const QString &message)
{
    m_helloTimer->stop();
    m_pingTimer->stop();
    // Without the device nobody reads what the cloud sends, so its connections go now
    // rather than when the link is closed.
    m_paceTimer->stop();
    m_outQueue.clear();
    m_cloudRelay->reset();
    m_streamRelay->reset();
    Q_EMIT closed(message);
}

void UsbLink::onReadyRead(const QByteArray &data)
{
    const QList<UsbFrame> frames = decodeFrames(m_receiveBuffer, data);
    QPointer<UsbLink> self(this);
    for (const UsbFrame &frame : frames) {
        // A receiver of one of our signals may have closed or destroyed the link.
        if (!self || !m_port->isOpen())
            return;
        switch (static_cast<UsbFrameType>(frame.type)) {
        case UsbFrameType::Live: {
            const QJsonDocument doc = QJsonDocument::fromJson(frame.payload);
            if (doc.isObject())
                Q_EMIT envelope(doc.object());
            break;
        }
        case UsbFrameType::Tunnel:
            m_cloudRelay->fromDevice(frame.payload);
            break;
        case UsbFrameType::Control: {
            const QJsonObject message = parseControl(frame.payload);
            if (!message.isEmpty())
                handleControl(message);
            break;
        }
        case UsbFrameType::Rpc: {
            const QByteArray message = m_assembler.feed(frame.payload);
            if (!message.isEmpty())
                m_transport->deliver(message);
            break;
        }
        case UsbFrameType::Stream:
            m_streamRelay->fromDevice(frame.payload);
            break;
        default:
            break;
        }
    }
}

void UsbLink::handleControl(const QJsonObject &message)
{
    using Handler = void (UsbLink::*)(const QJsonObject &);
    static const struct {
        const char *type;
        Handler handler;
    } handlers[] = {
        {"hello", &UsbLink::onHelloAnswer},
        {"rx_status", &UsbLink::onReceiverStatus},
        {"rx_set", &UsbLink::onReceiverAnswer},
        {"rx_reboot", &UsbLink::onReceiverAnswer},
        {"rx_error", &UsbLink::onReceiverAnswer},
    };
    const QString type = message.value(QLatin1String("t")).toString();
    for (const auto &entry : handlers) {
        if (type == QLatin1String(entry.type)) {
            (this->*entry.handler)(message);
            return;
        }
    }
}

void UsbLink::onHelloAnswer(const QJsonObject &message)
{
    m_tunnelInfo = message.value(QLatin1String("tunnel")).toObject();
    m_streamRelay->configure(message.value(QLatin1String("streams")).toObject());
    const QPair<QString, int> target = tunnelTarget(m_tunnelInfo);
    m_cloudRelay->setTarget(target.first, target.second);
    markAnswered(message);
}

QPair<QString, int> UsbLink::tunnelTarget(const QJsonObject &tunnel)
{
    const QString host = tunnel.value(QLatin1String("host")).toString();
    const qint64 port = tunnel.value(QLatin1String("port")).toInteger(0);
    // A port outside the TCP range is no target either.
    if (host.isEmpty() || port < 1 || port > 65535)
        return {QString(), 0};
    return {host, int(port)};
}

void UsbLink::onReceiverStatus(const QJsonObject &message)
{
    m_receiverStatus = message;
    QPointer<UsbLink> self(this);
    Q_EMIT receiverUpdated(message);
    if (!self)
        return;
    QJsonObject info = message;
    info.insert(QStringLiteral("receiver"), true);
    markAnswered(info);
}

void UsbLink::markAnswered(const QJsonObject &info)
{
    if (m_helloAnswered)
        return;
    m_helloAnswered = true;
    m_helloTimer->stop();
    Q_EMIT opened(info);
}

void UsbLink::onReceiverAnswer(const QJsonObject &message)
{
    if (!m_receiverCallback)
        return;
    m_receiverTimer->stop();
    const ReceiverCallback callback = std::exchange(m_receiverCallback, nullptr);
    const bool ok = message.value(QLatin1String("ok")).toBool(true)
        && message.value(QLatin1String("t")).toString() != QLatin1String("rx_error");
    if (ok) {
        callback(true, message.value(QLatin1String("key")).toString(), QString());
        return;
    }
    QString error = message.value(QLatin1String("error")).toString();
    if (error.isEmpty())
        error = QStringLiteral("The receiver refused the settings");
    callback(false, QString(), error);
}

void UsbLink::setReceiver(const QString &key, bool generateKey, int channel, ReceiverCallback callback)
{
    Q_UNUSED(channel);
    if (m_receiverCallback) {
        if (callback)
            callback(false, QString(), QStringLiteral("Another receiver request is still in progress"));
        return;
    }
    const QJsonObject message = receiverSetRequest(key, generateKey);
    if (!message.contains(QLatin1String("generate_key")) && !message.contains(QLatin1String("key"))
        && !message.contains(QLatin1String("channel"))) {
        if (callback)
            callback(false, QString(), QStringLiteral("Give a key, ask for a new key, or choose a channel"));
        return;
    }
    // An empty callback still occupies the slot, so that one request at a time holds.
    m_receiverCallback = callback ? std::move(callback) : [](bool, const QString &, const QString &) {};
    m_receiverTimer->start(m_timing.receiverTimeoutMs);
    if (m_port->isOpen())
        sendControl(message);
}

void UsbLink::receiverTimedOut()
{
    const ReceiverCallback callback = std::exchange(m_receiverCallback, nullptr);
    if (callback)
        callback(false, QString(), QStringLiteral("The receiver did not answer"));
}

void UsbLink::queueTunnel(const QByteArray &bytes)
{
    if (!m_port->isOpen())
        return;
    for (qsizetype offset = 0; offset < bytes.size(); offset += kMaxTunnelChunk)
        m_outQueue.append(encodeFrame(UsbFrameType::Tunnel, bytes.mid(offset, kMaxTunnelChunk)));
    schedulePaced();
}

void UsbLink::queueStream(const QByteArray &payload)
{
    if (!m_port->isOpen())
        return;
    const QByteArray frame = encodeFrame(UsbFrameType::Stream, payload);
    if (!frame.isEmpty())
        m_outQueue.append(frame);
    schedulePaced();
}

void UsbLink::schedulePaced()
{
    if (m_outQueue.size() > MaxQueuedRelayFrames) {
        m_outQueue.clear();
        m_cloudRelay->reset();
        m_streamRelay->reset();
        return;
    }
    if (m_paceTimer->isActive())
        return;
    m_paceTimer->start();
    if (!m_lastPacedWrite.isValid() || m_lastPacedWrite.elapsed() >= m_timing.paceIntervalMs)
        paceStep();
}

void UsbLink::paceStep()
{
    if (m_outQueue.isEmpty() || !m_port->isOpen()) {
        m_paceTimer->stop();
        m_outQueue.clear();
        return;
    }
    m_port->write(m_outQueue.takeFirst());
    m_lastPacedWrite.start();
    if (m_outQueue.isEmpty())
        m_paceTimer->stop();
}

void UsbLink::onRelayStatus()
{
    const bool enabled = m_cloudRelay->isEnabled();
    if (enabled == m_streamRelay->isEnabled())
        return;
    m_streamRelay->setEnabled(enabled);
    if (!enabled)
        m_streamRelay->reset();
}

} // namespace corvane
