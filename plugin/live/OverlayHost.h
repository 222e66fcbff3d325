#pragma once

#include "base/CallQueue.h"
#include "live/OverlayFiles.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <map>

class QTcpServer;

namespace corvane {

class OverlayConnection;

// The overlay server's network side, on a thread of its own (see OverlayServer): accepts
// connections, keeps one OverlayConnection per connection (each owning its socket), and
// writes each snapshot it is given to every WebSocket client. Other threads reach it
// through post(); every other public method runs on its own thread.
class OverlayHost : public QObject {
    Q_OBJECT
public:
    struct Timeouts {
        // From a connection's first byte of a request to the end of its head.
        std::chrono::milliseconds head;
        // A kept-alive connection between requests, and a download that makes no progress.
        std::chrono::milliseconds idle;
    };

    OverlayHost(OverlayFiles files, Timeouts timeouts, QObject *parent = nullptr);
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

    // The devices followed beside the main one: the others' pages get 404.
    void setFollowed(const QStringList &deviceIds);
    bool isFollowed(const QString &deviceId) const { return m_followed.contains(deviceId); }
    // The main device's own id; pages that named the former one by its id are closed.
    void setMainDevice(const QString &deviceId);
    bool isMain(const QString &deviceId) const { return !deviceId.isEmpty() && deviceId == m_mainId; }
    void deviceFollowed(const QString &deviceId);
    // Its pages are closed, and requests waiting for it get 404.
    void deviceUnfollowed(const QString &deviceId);
    // A followed device's current state, asked for through deviceWanted: sent to its
    // WebSocket clients and to the /live.json requests waiting for it.
    void publishDevice(const QString &deviceId, const QByteArray &snapshot);

    // Connections kept (pages, their files and WebSockets), and the output waiting in them.
    int connectionCount() const { return int(m_connections.size()); }
    qint64 pendingOutput() const;

    // For the connections.
    const OverlayFiles &files() const { return m_files; }
    QByteArray snapshot() const { return m_snapshot; }
    Timeouts timeouts() const { return m_timeouts; }
    // `connection` became a WebSocket client: it gets the current state of its device at
    // once, or as soon as it is known.
    void adopt(OverlayConnection *connection);
    // `connection` asks /live.json of a followed device: answered now, or once its state
    // is known (answerSnapshot), or refused when it is unfollowed first (deviceGone).
    void requestSnapshot(OverlayConnection *connection);
    // `connection` is closing; no longer counted. Repeating it changes nothing.
    void forget(OverlayConnection *connection);

Q_SIGNALS:
    // The number of WebSocket clients changed; `generation` as given to listen or close.
    void clientCountChanged(quint64 generation, int count);
    // A followed device's state is needed (its first reader came) or no longer (its last
    // one left); `generation` as for the count.
    void deviceWanted(quint64 generation, const QString &deviceId, bool wanted);

private:
    // What the pages of one followed device read, while any does.
    struct Channel {
        QByteArray snapshot;
        QString text;
        bool known = false;
        QList<OverlayConnection *> clients; // WebSockets
        QList<OverlayConnection *> waiting; // /live.json requests
    };

    Q_INVOKABLE void runQueued() { m_calls.run(); }
    void accept();
    void dropAll();
    Channel &channelOf(const QString &deviceId);
    void releaseIfUnread(const QString &deviceId);
    int webSocketCount() const;

    OverlayFiles m_files;
    Timeouts m_timeouts;
    QTcpServer *m_server; // a child
    QSet<OverlayConnection *> m_connections; // children, until each closes
    QList<OverlayConnection *> m_clients;    // the main device's WebSocket ones, in connection order
    QByteArray m_snapshot;
    QString m_snapshotText; // the same, converted once for every client's text message
    QSet<QString> m_followed;
    QString m_mainId;
    std::map<QString, Channel> m_channels;
    quint64 m_generation = 0;
    CallQueue m_calls{this, "runQueued"};
};

} // namespace corvane
