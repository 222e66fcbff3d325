#pragma once

#include "base/CallQueue.h"
#include "live/OverlayFiles.h"

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

class QTcpServer;
class QTcpSocket;
class QWebSocket;

namespace corvane {

// The overlay server's network side, on a thread of its own (see OverlayServer): answers
// HTTP requests with Qt's HTTP server, keeps the WebSocket clients of /live and writes each
// snapshot it is given to all of them. Other threads reach it through post(); every other
// public method runs on its own thread.
class OverlayHost : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit OverlayHost(OverlayFiles files, QObject *parent = nullptr);
    ~OverlayHost() override;

    // Any thread: runs `call` on this object's thread, after every call posted before it.
    void post(std::function<void()> call) { m_calls.post(std::move(call)); }

    // Listens on 127.0.0.1:`port` (0: any free port) with `snapshot` as the current state;
    // `generation` tags the counts reported until the next close().
    bool listen(quint16 port, const QByteArray &snapshot, quint64 generation, QString *error);
    // Stops listening and drops every connection.
    void close(quint64 generation);
    quint16 port() const;

    // The new current state: sent to every WebSocket client, and answered by /live.json.
    void publish(const QByteArray &snapshot);

Q_SIGNALS:
    // The number of WebSocket clients changed; `generation` as given to listen or close.
    void clientCountChanged(quint64 generation, int count);

protected:
    bool handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder) override;
    void missingHandler(const QHttpServerRequest &request, QHttpServerResponder &responder) override;

private:
    class Listener;

    Q_INVOKABLE void runQueued() { m_calls.run(); }
    bool isAllowed(const QHttpServerRequest &request) const;
    void adoptWebSockets();
    void forget(QWebSocket *socket);
    // Queues the snapshot for one client; false once it has fallen too far behind.
    bool send(QWebSocket *socket);
    void drop(QWebSocket *socket);
    void serveFile(const QHttpServerRequest &request, QHttpServerResponder &responder);

    OverlayFiles m_files;
    Listener *m_listener = nullptr; // owned by the HTTP server once bound
    QList<QWebSocket *> m_clients;
    QByteArray m_snapshot;
    QString m_snapshotText; // the same, converted once for every client's text message
    quint64 m_generation = 0;
    CallQueue m_calls{this, "runQueued"};
};

} // namespace corvane
