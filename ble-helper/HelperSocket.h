#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace corvane::helper {

// The helper's one TCP connection to the plugin on 127.0.0.1. Lines go out whole under one
// lock, from any thread; receiving is for the request loop alone. One source file per
// platform (POSIX sockets, Winsock) behind this header.
class HelperSocket {
public:
    HelperSocket();
    ~HelperSocket();
    HelperSocket(const HelperSocket &) = delete;
    HelperSocket &operator=(const HelperSocket &) = delete;

    bool connectLoopback(int port);
    // Bytes received into `buffer`; 0 when the connection ended or failed.
    std::size_t receive(char *buffer, std::size_t size);
    // Sends the text and a line feed; a failed send drops the rest of that line.
    void sendLine(const std::string &text);

private:
    std::mutex m_sendLock;
    long long m_handle;
};

} // namespace corvane::helper
