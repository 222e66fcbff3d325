#include "device/usb/SerialPort.h"

#include <QSerialPort>
#include <QSocketNotifier>

#include <poll.h>

namespace corvane {

// The port's descriptor tells the event loop when bytes arrive.
SerialPort::ReadMode SerialPort::platformReadMode()
{
    return ReadMode::Notified;
}

bool SerialPort::lineHungUp() const
{
    // A vanished USB device, or a pseudo-terminal whose other end closed, may read as end
    // of file, which Qt does not report as an error; the hang-up shows in poll() instead.
    pollfd fd{};
    fd.fd = int(m_port->handle());
    fd.events = POLLIN;
    if (fd.fd < 0 || ::poll(&fd, 1, 0) < 0)
        return false;
    return (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void SerialPort::watchHangUp()
{
    // A hang-up is reported to every watcher, whatever it asked for; the exception kind
    // asks for nothing else, so arriving bytes do not wake it.
    m_hangUpWatch = new QSocketNotifier(m_port->handle(), QSocketNotifier::Exception, this);
    connect(m_hangUpWatch, &QSocketNotifier::activated, this, &SerialPort::onHangUp);
}

} // namespace corvane
