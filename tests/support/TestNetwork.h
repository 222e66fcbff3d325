#pragma once

#include <QHostAddress>
#include <QTcpServer>

namespace corvane::test {

// A loopback port that nothing listens on right now: for servers a test starts later, and
// for connections that must be refused. 0 when the system has no port to give.
inline quint16 unusedLocalPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : quint16(0);
}

} // namespace corvane::test
