#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QSerialPort;
class QSocketNotifier;
class QTimer;

namespace corvane {

// One serial port present on this computer.
struct UsbPortInfo {
    QString portName;
    QString description; // the port name when the system gives no friendly name
    bool likelyDevice = false; // USB vendor 0x303A (Espressif), the device's chip
};

// The plugin's only access to a serial port: exclusive open at 115200 8N1 without flow
// control, synchronous writes bounded by a 2 s timeout, and non-blocking reads on the
// owning thread, at most 8 reads of 4096 bytes per step so that a flood cannot hold the
// UI thread. No reader thread: a step runs from the event loop, either as bytes arrive
// (the port's own notifier) or from a 15 ms timer where the system gives no notice (the
// Windows design). The platform's way is chosen at build time; tests may pick either.
class SerialPort : public QObject {
    Q_OBJECT
public:
    enum class ReadMode {
        Notified, // a step as soon as the port reports bytes
        Polled,   // a step every PollIntervalMs
    };
    Q_ENUM(ReadMode)
    // The way of this platform (SerialPort_posix.cpp, SerialPort_windows.cpp).
    static ReadMode platformReadMode();

    explicit SerialPort(QObject *parent = nullptr);
    explicit SerialPort(ReadMode mode, QObject *parent = nullptr);
    ~SerialPort() override;

    static QList<UsbPortInfo> availablePorts();

    // Closes any port held, then opens `portName`. On failure `errorText` gets a user
    // sentence that tells a busy port apart from other failures.
    bool open(const QString &portName, QString *errorText);
    // Silent: emits nothing.
    void close();
    bool isOpen() const;
    ReadMode readMode() const { return m_mode; }
    // Writes every byte before returning; false when closed, on error or on timeout.
    // Never emits: bytes that arrive meanwhile are delivered from the event loop.
    bool write(const QByteArray &bytes);

    static constexpr int PollIntervalMs = 15;
    static constexpr int MaxReadsPerPoll = 8;
    static constexpr int ReadChunk = 4096;
    static constexpr int WriteTimeoutMs = 2000;
    // Notified mode: how often the line is checked for a hang-up that woke nothing.
    static constexpr int HangUpCheckMs = 1000;

    // Test seam: no hang-up watch, as under an event dispatcher that does not wake it for a
    // bare hang-up (glib's, without POLLERR); only the slow check is left to notice.
    void setHangUpWatchForTesting(bool enabled) { m_hangUpWatchWanted = enabled; }

Q_SIGNALS:
    // Exactly the bytes of one read.
    void readyRead(const QByteArray &data);
    // A read failed (device unplugged); the port is already closed.
    void errorOccurred(const QString &message);

private:
    void onBytesArrived();
    void readStep();
    void stepAgainSoon();
    void failRead();
    // The other end is gone although the system reported no read error (end of file).
    bool lineHungUp() const;
    // Notified mode: calls onHangUp when the line hangs up, where the port's own notifier
    // sees only an end of file and reports nothing.
    void watchHangUp();
    void onHangUp();
    void checkHangUp();

    ReadMode m_mode;
    QSerialPort *m_port = nullptr;
    QTimer *m_pollTimer = nullptr;
    // Notified mode: the next step, from the event loop, when one step could not take all.
    QTimer *m_stepTimer = nullptr;
    QSocketNotifier *m_hangUpWatch = nullptr;
    // Notified mode: the safety net for a hang-up the watch does not hear of.
    QTimer *m_hangUpCheck = nullptr;
    bool m_hangUpWatchWanted = true;
    bool m_readFailed = false;
    bool m_writing = false;
};

} // namespace corvane
