#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace corvane::test {

// A loopback port that nothing listens on right now: for servers a test starts later, and
// for connections that must be refused. 0 when the system has no port to give.
inline quint16 unusedLocalPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : quint16(0);
}

// A peer that never answers a dial, as behind a firewall that drops: a listener that accepts
// nothing and whose backlog of one is taken, so Linux drops every further SYN unanswered and
// the dialler waits. Port 0 picks a free one.
class SilentPeer {
public:
    SilentPeer(const QHostAddress &address, quint16 port)
    {
        m_server.setListenBacklogSize(0);
        if (!m_server.listen(address, port))
            return;
        m_server.pauseAccepting();
        m_filler.connectToHost(address, m_server.serverPort());
        m_ready = m_filler.waitForConnected(5000);
    }
    bool isReady() const { return m_ready; }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
    QTcpSocket m_filler;
    bool m_ready = false;
};

} // namespace corvane::test
