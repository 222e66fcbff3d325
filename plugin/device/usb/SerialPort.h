#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QSerialPort;
class QTimer;

namespace corvane {

// One serial port present on this computer.
struct UsbPortInfo {
    QString portName;
    QString description; // the port name when the system gives no friendly name
    bool likelyDevice = false; // USB vendor 0x303A (Espressif), the device's chip
};

// The plugin's only access to a serial port: exclusive open at 115200 8N1 without flow
// control, synchronous writes bounded by a 2 s timeout, and reads polled from a 15 ms
// timer on the owning thread, at most 8 reads of 4096 bytes per step so that a flood
// cannot hold the UI thread.
class SerialPort : public QObject {
    Q_OBJECT
public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    static QList<UsbPortInfo> availablePorts();

    // Closes any port held, then opens `portName`. On failure `errorText` gets a user
    // sentence that tells a busy port apart from other failures.
    bool open(const QString &portName, QString *errorText);
    // Silent: emits nothing.
    void close();
    bool isOpen() const;
    // Writes every byte before returning; false when closed, on error or on timeout.
    bool write(const QByteArray &bytes);

    static constexpr int PollIntervalMs = 15;
    static constexpr int MaxReadsPerPoll = 8;
    static constexpr int ReadChunk = 4096;
    static constexpr int WriteTimeoutMs = 2000;

Q_SIGNALS:
    // Exactly the bytes of one read.
    void readyRead(const QByteArray &data);
    // A read failed (device unplugged); the port is already closed.
    void errorOccurred(const QString &message);

private:
    void poll();
    void failRead();
    bool lineHungUp() const;

    QSerialPort *m_port = nullptr;
    QTimer *m_pollTimer = nullptr;
    bool m_readFailed = false;
};

} // namespace corvane
