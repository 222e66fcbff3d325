#include "device/usb/SerialPort.h"

namespace corvane {

// A non-blocking ReadFile (every read timeout at its "return at once" value) gives no
// notice of arriving bytes; a timer asks instead.
SerialPort::ReadMode SerialPort::platformReadMode()
{
    return ReadMode::Polled;
}

// An unplugged device makes ReadFile fail, which Qt reports as an error.
bool SerialPort::lineHungUp() const
{
    return false;
}

void SerialPort::watchHangUp() {}

} // namespace corvane
