#pragma once

#include <QByteArray>
#include <QTcpServer>

namespace corvane::devsim {

// A loopback TCP server that sends one blob to each client and then closes: what a
// firmware download through the stream relay looks like from the device's side.
class FileServer : public QTcpServer {
    Q_OBJECT
public:
    explicit FileServer(const QByteArray &content, QObject *parent = nullptr);
    bool start();
    QByteArray content() const { return m_content; }

    // Deterministic content of a given size, so that a receiver can check it.
    static QByteArray pattern(qsizetype size);

private:
    QByteArray m_content;
};

} // namespace corvane::devsim
