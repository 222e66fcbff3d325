#pragma once

#include "device/DeviceLink.h"
#include "device/usb/RpcAssembler.h"
#include "device/usb/SerialPort.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

class QTimer;

namespace corvane {

class CloudRelay;
class StreamRelay;
class UsbAdminTransport;

// A device, or a wireless receiver, on a USB serial port. Frames from the line are
// dispatched by type: live messages become envelope, control messages drive the hello
// exchange and receiver pairing, RPC payloads are joined for the admin transport, and
// tunnel and stream frames go to the cloud and stream relays. Everything the relays send
// back is paced at one frame per 40 ms so that the relay cannot starve the admin traffic.
class UsbLink : public DeviceLink {
    Q_OBJECT
public:
    using ReceiverCallback = std::function<void(bool ok, const QString &key, const QString &error)>;

    // The link's clocks. Defaults are the production values; tests shorten them.
    struct Timing {
        int helloIntervalMs = 3000;
        int helloGiveUpMs = 45000;
        int pingIntervalMs = 5000;
        int receiverTimeoutMs = 5000;
        int paceIntervalMs = 40;
    };

    // `readMode`: how the serial port learns of arriving bytes; the platform's unless a
    // benchmark compares the two.
    explicit UsbLink(const QString &portName, QObject *parent = nullptr,
                     SerialPort::ReadMode readMode = SerialPort::platformReadMode());
    ~UsbLink() override;

    QString kind() const override { return QStringLiteral("usb"); }
    void open() override;
    void close() override;
    RpcTransport *rpcTransport() const override;
    bool needsPolling() const override { return false; }

    QString portName() const { return m_portName; }
    CloudRelay *cloudRelay() const { return m_cloudRelay; }
    StreamRelay *streamRelay() const { return m_streamRelay; }
    QJsonObject tunnelInfo() const { return m_tunnelInfo; }
    QJsonObject receiverStatus() const { return m_receiverStatus; }

    // Asks a wireless receiver to pair with a key, or to generate one. The channel is not
    // part of the request the receiver understands and is ignored. The callback runs
    // exactly once, unless the link is destroyed first.
    void setReceiver(const QString &key, bool generateKey, int channel, ReceiverCallback callback);

    void setTimingForTests(const Timing &timing);

    // The cloud host and port a hello answer's "tunnel" object names; no host and port 0
    // when it names no usable target.
    static QPair<QString, int> tunnelTarget(const QJsonObject &tunnel);

    static constexpr int MaxQueuedRelayFrames = 1024;

Q_SIGNALS:
    // The latest "rx_status" of a wireless receiver.
    void receiverUpdated(const QJsonObject &status);
    // The cloud relay or the stream relay changed state.
    void tunnelChanged();

private:
    void applyTiming(const Timing &timing);
    void sendControl(const QJsonObject &message);
    void onReadyRead(const QByteArray &data);
    void onPortError(const QString &message);
    void handleControl(const QJsonObject &message);
    void onHelloAnswer(const QJsonObject &message);
    void onReceiverStatus(const QJsonObject &message);
    void onReceiverAnswer(const QJsonObject &message);
    void markAnswered(const QJsonObject &info);
    void helloStep();
    void pingStep();
    void receiverTimedOut();
    void queueTunnel(const QByteArray &bytes);
    void queueStream(const QByteArray &payload);
    void schedulePaced();
    void paceStep();
    void onRelayStatus();

    QString m_portName;
    Timing m_timing;
    SerialPort *m_port = nullptr;
    UsbAdminTransport *m_transport = nullptr;
    CloudRelay *m_cloudRelay = nullptr;
    StreamRelay *m_streamRelay = nullptr;
    QByteArray m_receiveBuffer;
    RpcAssembler m_assembler;
    QTimer *m_helloTimer = nullptr;
    QTimer *m_pingTimer = nullptr;
    QTimer *m_receiverTimer = nullptr;
    QTimer *m_paceTimer = nullptr;
    QElapsedTimer m_helloClock;
    bool m_helloAnswered = false;
    QJsonObject m_tunnelInfo;
    QJsonObject m_receiverStatus;
    ReceiverCallback m_receiverCallback;
    QList<QByteArray> m_outQueue;
    QElapsedTimer m_lastPacedWrite;
};

} // namespace corvane
