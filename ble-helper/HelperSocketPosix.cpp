#include "HelperSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::helper {

namespace {
constexpr long long kInvalid = -1;
}

HelperSocket::HelperSocket()
    : m_handle(kInvalid)
{
}

HelperSocket::~HelperSocket()
{
    if (m_handle != kInvalid)
        ::close(int(m_handle));
}

bool HelperSocket::connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    // Replies and events are small lines sent as they happen; waiting to merge them costs
    // the plugin a delayed acknowledgement per line.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::lock_guard<std::mutex> guard(m_sendLock);
    m_handle = fd;
    return true;
}

std::size_t HelperSocket::receive(char *buffer, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::recv(int(m_handle), buffer, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 ? std::size_t(n) : 0;
    }
}

void HelperSocket::sendLine(const std::string &text)
{
    const std::string line = text + '\n';
    std::lock_guard<std::mutex> guard(m_sendLock);
    if (m_handle == kInvalid)
        return;
    std::size_t sent = 0;
    while (sent < line.size()) {
        // MSG_NOSIGNAL: a plugin that went away must not kill the helper with SIGPIPE.
        const ssize_t n = ::send(int(m_handle), line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        sent += std::size_t(n);
    }
}

} // namespace corvane::helper
