#pragma once

#include "base/CallQueue.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

namespace corvane {

class HostedClients;
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

    // Sends the current snapshot to every client; connected to LiveData::changed.
    void broadcast();

    // Snapshot bytes taken for sending so far, for diagnostics: a broadcast adds one line
    // however many clients it reaches.
    qint64 bytesSerialised() const { return m_bytesSerialised; }

Q_SIGNALS:
    void clientsChanged(int count);

private:
    class Listener;

    Q_INVOKABLE void runQueued() { m_fromClients.run(); }
    // Runs `call` with the client thread's object, on that thread, after every call before.
    void toClients(std::function<void(HostedClients &)> call);

    void accept(qintptr descriptor);
    void startClientThread();
    void onCountChanged(quint64 generation, int count, quint64 adopted);
    void handleLine(quint64 client, const QByteArray &line);
    void answer(quint64 client, const QByteArray &line);
    QByteArray snapshotLine();

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
    CallQueue m_fromClients{this, "runQueued"};
};

} // namespace corvane
