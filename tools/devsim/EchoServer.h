#pragma once

#include <QTcpServer>

namespace corvane::devsim {

// The simulator's "cloud": a loopback TCP server that sends every byte back.
class EchoServer : public QTcpServer {
    Q_OBJECT
public:
    explicit EchoServer(QObject *parent = nullptr);
    bool start();
};

} // namespace corvane::devsim
