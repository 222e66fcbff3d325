#include "HelperSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

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
        ::closesocket(SOCKET(m_handle));
    WSACleanup();
}

bool HelperSocket::connectLoopback(int port)
{
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::closesocket(s);
        return false;
    }
    // Replies and events are small lines sent as they happen; no merging delay.
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    std::lock_guard<std::mutex> guard(m_sendLock);
    m_handle = static_cast<long long>(s);
    return true;
}

std::size_t HelperSocket::receive(char *buffer, std::size_t size)
{
    const int n = ::recv(SOCKET(m_handle), buffer, int(size), 0);
    return n > 0 ? std::size_t(n) : 0;
}

void HelperSocket::sendLine(const std::string &text)
{
    const std::string line = text + '\n';
    std::lock_guard<std::mutex> guard(m_sendLock);
    if (m_handle == kInvalid)
        return;
    std::size_t sent = 0;
    while (sent < line.size()) {
        const int n = ::send(SOCKET(m_handle), line.data() + sent, int(line.size() - sent), 0);
        if (n <= 0)
            return;
        sent += std::size_t(n);
    }
}

} // namespace corvane::helper
