#pragma once

#include "base/CallQueue.h"
#include "live/DeviceFeeds.h"
#include "live/HostedClients.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

namespace corvane {

class LiveData;

// Re-publishes the live scoreboard over plain TCP: every client gets the whole snapshot as
// one compact JSON line when it connects and after every change, and may send one-line
// requests ("get", or {"op": ...}) that the installed handler answers.
//
// Listening, serialising and answering happen on the user-interface thread; the connected
// clients live on a thread of their own (HostedClients), so that an update costs this thread
// one serialisation and one queued call however many clients there are. Lines reach each
// client in the order this thread produced them: the snapshot on connect, then every
// update and answer after it.
//
// A client reads the main device until it asks otherwise: {"op":"watch","device":ID} for one
// followed device ("" or the plain line "watch" for the main one again), {"op":"watch",
// "all":true} for every device, each line then naming its device ("device": ID, "" for the
// main one). The main device's own id names the main device. A device that is neither
// followed nor main gets {"error":"unknown_device",...}. When a device a client reads is
// neither followed nor main any more, the client gets {"device":ID,"error":
// "device_unfollowed","ok":false} and then nothing until it asks again: falling back to
// another device would show another game's score under the same client's eyes. A device
// made the main one, or the former main one followed in its stead, is read on. A followed
// device's updates are serialised only while some client reads it.
class HostedServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<QJsonObject(const QString &op, const QJsonObject &request)>;

    explicit HostedServer(LiveData *live, QObject *parent = nullptr);
    ~HostedServer() override;

    // The answer to a request that failed: {"ok": false, "error": code}.
    static QJsonObject failure(const QString &code);

    // Stops first, then listens on all interfaces when `allowNetwork`, else on 127.0.0.1.
    // On failure `error` gets "Could not listen on port %1: %2".
    bool start(quint16 port, bool allowNetwork, QString *error);
    void stop();

    int clientCount() const { return m_clientCount; }
    bool isListening() const;
    quint16 port() const;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // The devices followed beside the main one; none until set.
    void setFeeds(DeviceFeeds feeds);
    // Tell the server, as they happen.
    void deviceFollowed(const QString &deviceId);
    void deviceUnfollowed(const QString &deviceId);
    // The main device may be another one now (its id as the feeds give it).
    void mainDeviceChanged();

    // Sends the current snapshot to every client; connected to LiveData::changed.
    void broadcast();

    // Snapshot bytes taken for sending so far, for diagnostics: a broadcast adds one line
    // however many clients it reaches.
    qint64 bytesSerialised() const { return m_bytesSerialised; }

Q_SIGNALS:
    void clientsChanged(int count);

private:
    class Listener;
    using Watch = HostedClients::Watch;

    // A followed device some client reads (one alone, or every device).
    struct Feed {
        std::shared_ptr<DeviceLive> data;
        QMetaObject::Connection changed;
    };

    Q_INVOKABLE void runQueued() { m_fromClients.run(); }
    // Runs `call` with the client thread's object, on that thread, after every call before.
    void toClients(std::function<void(HostedClients &)> call);

    void accept(qintptr descriptor);
    void startClientThread();
    void onCountChanged(quint64 generation, int count, quint64 adopted);
    void handleLine(quint64 client, const QByteArray &line);
    void answer(quint64 client, const QByteArray &line);
    QByteArray snapshotLine();
    void watch(quint64 client, const QJsonObject &request);
    void setWatch(quint64 client, const Watch &watch, const QByteArray &lines);
    QByteArray linesFor(const Watch &watch);
    void onClientLeft(quint64 client);
    // Listens to each followed device exactly while some client reads it.
    void refreshFeeds();
    bool isRead(const QString &deviceId) const;
    void broadcastDevice(const QString &deviceId);
    QByteArray snapshotLineOf(const QString &deviceId);
    QString mainId() const { return m_feeds.mainId ? m_feeds.mainId() : QString(); }
    // Clients that read something other than the main device.
    qsizetype readingOthers() const;
    // Runs settle once the change under way is whole (made the main device, a followed one
    // is unfollowed first; the former main one may be followed right after).
    void settleLater(const QString &deviceId, bool namedForAll);
    // `deviceId` stopped being followed or main: readers of it alone read on when it is now
    // followed or main, and are told it is gone otherwise, as are those reading every device
    // when `namedForAll` (they read it by its id).
    void settle(const QString &deviceId, bool namedForAll);

    LiveData *m_live;
    std::unique_ptr<Listener> m_server;
    QThread m_thread;
    HostedClients *m_clients = nullptr; // lives on m_thread; deleted there
    Handler m_handler;
    int m_clientCount = 0;
    // Connections handed to the client thread, and how many of them it has taken over: a
    // broadcast may be skipped only when no client exists or is on its way.
    quint64 m_accepted = 0;
    quint64 m_adopted = 0;
    // Grows with every stop, so that counts the client thread reported about clients of an
    // earlier listening period are recognised as stale.
    quint64 m_generation = 0;
    qint64 m_bytesSerialised = 0;
    DeviceFeeds m_feeds;
    // Clients that read anything but the main device alone, as their requests asked.
    QHash<quint64, Watch> m_watches;
    int m_readingAll = 0;
    QHash<QString, Feed> m_listening;
    QString m_mainId; // as last seen, to tell when it changes
    CallQueue m_fromClients{this, "runQueued"};
};

} // namespace corvane
