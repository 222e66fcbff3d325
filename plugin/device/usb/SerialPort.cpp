#include "device/usb/SerialPort.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace corvane {

namespace {

constexpr quint16 EspressifVendorId = 0x303A;

// Qt reports both a port another program holds (lock file, TIOCEXCL) and one this user may
// not open as a permission error; only the device node's own access check tells them apart.
bool lacksAccess(const QString &portName)
{
#ifdef Q_OS_UNIX
    // The device node as QSerialPort names it: a path as given, a bare name under /dev.
    const QString node = portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    const QByteArray path = QFile::encodeName(node);
    // As open() itself would: with the effective identity.
    return ::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM);
#else
    Q_UNUSED(portName);
    return false;
#endif
}

QString openErrorText(QSerialPort::SerialPortError error, const QString &portName)
{
    if (error == QSerialPort::PermissionError && lacksAccess(portName))
        return QStringLiteral("You do not have permission to open that USB port. Install the Corvane package (its udev "
                              "rule gives the signed-in user access to the device), or add yourself to the \"dialout\" "
                              "group and log in again; then unplug the device and plug it back in.");
    if (error == QSerialPort::PermissionError)
        return QStringLiteral("That USB port is in use by another program (close any serial monitor).");
    return QStringLiteral("Could not open the USB port (error %1).").arg(static_cast<int>(error));
}

} // namespace

SerialPort::SerialPort(QObject *parent)
    : SerialPort(platformReadMode(), parent)
{
}

SerialPort::SerialPort(ReadMode mode, QObject *parent)
    : QObject(parent)
    , m_mode(mode)
    , m_pollTimer(new QTimer(this))
    , m_stepTimer(new QTimer(this))
    , m_hangUpCheck(new QTimer(this))
{
    m_pollTimer->setInterval(PollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &SerialPort::readStep);
    m_stepTimer->setSingleShot(true);
    m_stepTimer->setInterval(0);
    connect(m_stepTimer, &QTimer::timeout, this, &SerialPort::readStep);
    m_hangUpCheck->setInterval(HangUpCheckMs);
    connect(m_hangUpCheck, &QTimer::timeout, this, &SerialPort::checkHangUp);
}

SerialPort::~SerialPort()
{
    close();
}

QList<UsbPortInfo> SerialPort::availablePorts()
{
    QList<UsbPortInfo> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        UsbPortInfo port;
        port.portName = info.portName();
        port.description = info.description().isEmpty() ? port.portName : info.description();
        port.likelyDevice = info.hasVendorIdentifier() && info.vendorIdentifier() == EspressifVendorId;
        ports.append(port);
    }
    return ports;
}

bool SerialPort::open(const QString &portName, QString *errorText)
{
    close();
    auto *port = new QSerialPort(this);
    port->setPortName(portName);
    if (!port->open(QIODevice::ReadWrite)) {
        if (errorText)
            *errorText = openErrorText(port->error(), portName);
        delete port;
        return false;
    }
    port->setBaudRate(QSerialPort::Baud115200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // A pseudo-terminal cannot drive the modem lines; the port stays usable without them.
    port->setDataTerminalReady(false);
    port->setRequestToSend(false);
    port->clear(QSerialPort::AllDirections);
    port->clearError();
    // Qt's own notifier fills the read buffer; a failure it meets there is only noted and
    // reported from a read step, after the bytes read before it, exactly once and never
    // from inside a write.
    connect(port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError error) {
        if (port != m_port || (error != QSerialPort::ResourceError && error != QSerialPort::ReadError))
            return;
        m_readFailed = true;
        stepAgainSoon();
    });
    m_port = port;
    m_readFailed = false;
    if (m_mode == ReadMode::Notified) {
        connect(port, &QSerialPort::readyRead, this, &SerialPort::onBytesArrived);
        if (m_hangUpWatchWanted)
            watchHangUp();
        // Under glib's event dispatcher (OBS's) a hang-up without POLLERR wakes neither the
        // watch nor a read error: Qt's own notifier then reads end of file again and again.
        // A slow check costs one poll() a second and ends that within a second.
        m_hangUpCheck->start();
    } else {
        m_pollTimer->start();
    }
    return true;
}

void SerialPort::close()
{
    m_pollTimer->stop();
    m_hangUpCheck->stop();
    m_stepTimer->stop();
    m_readFailed = false;
    if (m_hangUpWatch) {
        m_hangUpWatch->setEnabled(false);
        m_hangUpWatch->deleteLater();
        m_hangUpWatch = nullptr;
    }
    if (!m_port)
        return;
    QSerialPort *port = m_port;
    m_port = nullptr;
    port->disconnect(this);
    port->close();
    // Close may come from a slot of the port's own signal.
    port->deleteLater();
}

bool SerialPort::isOpen() const
{
    return m_port != nullptr;
}

bool SerialPort::write(const QByteArray &bytes)
{
    if (!m_port)
        return false;
    if (bytes.isEmpty())
        return true;
    // Waiting for the line, Qt also reads and announces what arrived; the callers write
    // from their own receive handlers, which must not be entered again from here.
    m_writing = true;
    bool written = m_port->write(bytes) == bytes.size();
    QDeadlineTimer deadline(WriteTimeoutMs);
    while (written && m_port && m_port->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !m_port->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    m_writing = false;
    if (!written || !m_port || m_port->bytesToWrite() > 0) {
        // What did not go out in time must not trail behind the next message.
        if (m_port)
            m_port->clear(QSerialPort::Output);
        return false;
    }
    return true;
}

void SerialPort::onBytesArrived()
{
    if (m_writing || m_stepTimer->isActive())
        stepAgainSoon();
    else
        readStep();
}

void SerialPort::onHangUp()
{
    // Reported until the port is closed; once is enough.
    m_hangUpWatch->setEnabled(false);
    m_readFailed = true;
    stepAgainSoon();
}

void SerialPort::checkHangUp()
{
    if (m_port && lineHungUp())
        stepAgainSoon();
}

void SerialPort::stepAgainSoon()
{
    // Polled: the next tick comes anyway.
    if (m_mode == ReadMode::Notified && m_port && !m_stepTimer->isActive())
        m_stepTimer->start();
}

void SerialPort::readStep()
{
    QSerialPort *port = m_port;
    if (!port)
        return;
    for (int i = 0; i < MaxReadsPerPoll; ++i) {
        if (port->bytesAvailable() <= 0)
            break;
        const QByteArray data = port->read(ReadChunk);
        if (data.isEmpty())
            break;
        Q_EMIT readyRead(data);
        if (m_port != port)
            return; // a receiver closed or reopened the port
    }
    // The step's bound is reached; the rest waits for the next step, so that other events
    // get their turn in between.
    if (port->bytesAvailable() > 0) {
        stepAgainSoon();
        return;
    }
    if (m_readFailed || lineHungUp())
        failRead();
}

void SerialPort::failRead()
{
    close();
    Q_EMIT errorOccurred(QStringLiteral("The USB device was unplugged or stopped responding."));
}

} // namespace corvane
