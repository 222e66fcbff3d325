#pragma once

#include "live/OverlayFiles.h"
#include "live/OverlayRequest.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QFile;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace corvane {

class OverlayHost;

// One accepted connection of the overlay server, owning its socket (and, once upgraded, the
// WebSocket over it): the socket, the WebSocket and this object go together, so nothing of a
// connection can outlive the rest. It answers requests one at a time, streams files in
// bounded chunks, and hands a /live upgrade to Qt's WebSocket handshake only after the
// server's rules have passed. Lives on the overlay thread, a child of its host.
class OverlayConnection : public QObject {
    Q_OBJECT
public:
    // Output queued for a file before more of it is read from disk.
    static constexpr qint64 kChunkBytes = 64 * 1024;

    OverlayConnection(QTcpSocket *socket, OverlayHost *host);
    ~OverlayConnection() override;

    bool isWebSocket() const { return m_state == State::WebSocket; }
    // The device its request named; empty for the main device.
    QString device() const { return m_device; }
    // The answer to a /live.json request that waits for its device's state.
    void answerSnapshot(const QByteArray &snapshot);
    // Its device was unfollowed while its /live.json request waited.
    void deviceGone();
    // Queues one text message; false once the client has left too much unread.
    bool sendText(const QString &text);
    // Resets the connection, throwing away what waits unsent, and ends this object.
    void drop();
    qint64 pendingOutput() const;

private:
    enum class State { Head, Waiting, Streaming, Closing, Upgrading, WebSocket, Closed };

    void onReadyRead();
    void afterWebSocketRead();
    void onBytesWritten();
    void readHead();
    void answer(const OverlayRequest &request);
    bool isAllowed(const OverlayRequest &request) const;
    void serveOverlay(const OverlayRequest &request);
    void serveFile(const OverlayFile &file);
    void pump();
    void reply(const QByteArray &bytes, bool keepAlive);
    void refuse(int status);
    void finishAnswer();
    void upgrade(const OverlayRequest &request);
    void adoptWebSocket(QWebSocketServer *server);
    void close();

    OverlayHost *m_host;
    QTcpSocket *m_socket;                  // a child
    QWebSocket *m_webSocket = nullptr;     // a child, over m_socket
    State m_state = State::Head;
    QString m_device;
    QTimer m_timer;                        // head, idle and stall deadlines
    bool m_headStarted = false;
    bool m_keepAlive = false;
    std::unique_ptr<QFile> m_file;
    qint64 m_remaining = 0;
    // What the client sent: counted once each, though still in the socket's buffer.
    qint64 m_received = 0;
    qint64 m_counted = 0;
};

} // namespace corvane
