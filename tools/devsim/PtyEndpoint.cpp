#include "PtyEndpoint.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace corvane::devsim {

PtyEndpoint::PtyEndpoint(QObject *parent)
    : QObject(parent)
{
}

PtyEndpoint::~PtyEndpoint()
{
    unplug();
}

bool PtyEndpoint::open(QString *error)
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    tcsetattr(m_slave, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(name);

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::onReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::flush);
    return true;
}

void PtyEndpoint::write(const QByteArray &bytes)
{
    if (m_master < 0 || m_output.size() + bytes.size() > MaxOutput)
        return;
    m_output += bytes;
    flush();
}

void PtyEndpoint::flush()
{
    while (m_master >= 0 && !m_output.isEmpty()) {
        const ssize_t n = ::write(m_master, m_output.constData(), size_t(m_output.size()));
        if (n > 0) {
            m_output.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(m_master >= 0 && !m_output.isEmpty());
}

void PtyEndpoint::onReadable()
{
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            Q_EMIT received(QByteArray(buffer, n));
            if (m_master < 0)
                return;
            continue;
        }
        return;
    }
}

void PtyEndpoint::setReading(bool reading)
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(reading);
}

void PtyEndpoint::unplug()
{
    // Unplug may come from inside a notifier's own signal.
    for (QSocketNotifier *notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
    m_output.clear();
}

} // namespace corvane::devsim
