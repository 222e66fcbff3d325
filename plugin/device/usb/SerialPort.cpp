#include "device/usb/SerialPort.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace corvane {

namespace {

constexpr quint16 EspressifVendorId = 0x303A;

QString openErrorText(QSerialPort::SerialPortError error)
{
    // Another holder of the port (exclusive lock or TIOCEXCL) is reported as a
    // permission error; that is what the operator can act on.
    if (error == QSerialPort::PermissionError)
        return QStringLiteral("That USB port is in use by another program (close any serial monitor).");
    return QStringLiteral("Could not open the USB port (error %1).").arg(static_cast<int>(error));
}

} // namespace

SerialPort::SerialPort(QObject *parent)
    : QObject(parent)
    , m_pollTimer(new QTimer(this))
{
    m_pollTimer->setInterval(PollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &SerialPort::poll);
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
            *errorText = openErrorText(port->error());
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
    // Qt's own notifier fills the read buffer; a failure it meets there is only noted
    // and reported from the poll step, so that it surfaces exactly once and never from
    // inside a write.
    connect(port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError error) {
        if (port == m_port && (error == QSerialPort::ResourceError || error == QSerialPort::ReadError))
            m_readFailed = true;
    });
    m_port = port;
    m_readFailed = false;
    m_pollTimer->start();
    return true;
}

void SerialPort::close()
{
    m_pollTimer->stop();
    m_readFailed = false;
    if (!m_port)
        return;
    QSerialPort *port = m_port;
    m_port = nullptr;
    port->disconnect(this);
    port->close();
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
    if (m_port->write(bytes) != bytes.size())
        return false;
    QDeadlineTimer deadline(WriteTimeoutMs);
    while (m_port && m_port->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !m_port->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    if (!m_port || m_port->bytesToWrite() > 0) {
        // What did not go out in time must not trail behind the next message.
        if (m_port)
            m_port->clear(QSerialPort::Output);
        return false;
    }
    return true;
}

void SerialPort::poll()
{
    if (!m_port)
        return;
    for (int i = 0; i < MaxReadsPerPoll; ++i) {
        if (m_port->bytesAvailable() <= 0)
            break;
        const QByteArray data = m_port->read(ReadChunk);
        if (data.isEmpty())
            break;
        Q_EMIT readyRead(data);
        if (!m_port)
            return; // a receiver closed the port
    }
    // Data read before the failure has been delivered above; the rest of the step ends here.
    if (m_port->bytesAvailable() <= 0 && (m_readFailed || lineHungUp()))
        failRead();
}

bool SerialPort::lineHungUp() const
{
#ifdef Q_OS_UNIX
    // A vanished USB device, or a pseudo-terminal whose other end closed, reads as end of
    // file, which Qt does not report as an error; the hang-up shows in poll() instead.
    pollfd fd{};
    fd.fd = int(m_port->handle());
    fd.events = POLLIN;
    if (fd.fd < 0 || ::poll(&fd, 1, 0) < 0)
        return false;
    return (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return false;
#endif
}

void SerialPort::failRead()
{
    close();
    Q_EMIT errorOccurred(QStringLiteral("The USB device was unplugged or stopped responding."));
}

} // namespace corvane
