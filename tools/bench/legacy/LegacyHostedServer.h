#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace corvane {

class LiveData;

// The hosted server as it was when it wrote to every client on the caller's thread, kept
// only so that the live-update benchmark can measure before and after in one run.
class LegacyHostedServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<QJsonObject(const QString &op, const QJsonObject &request)>;

    // A client whose unfinished request line grows past this is disconnected.
    static constexpr qsizetype kMaxPendingInput = 64 * 1024;
    // A client that stops reading is disconnected once this much output waits for it, so
    // that one stalled reader cannot make the plugin's memory grow without bound.
    static constexpr qint64 kMaxPendingOutput = 1024 * 1024;

    explicit LegacyHostedServer(LiveData *live, QObject *parent = nullptr);

    // The answer to a request that failed: {"ok": false, "error": code}.
    static QJsonObject failure(const QString &code);
    ~LegacyHostedServer() override;

    // Stops first, then listens on all interfaces when `allowNetwork`, else on 127.0.0.1.
    // On failure `error` gets "Could not listen on port %1: %2".
    bool start(quint16 port, bool allowNetwork, QString *error);
    void stop();

    int clientCount() const { return static_cast<int>(m_clients.size()); }
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }

    void setHandler(Handler handler) { m_handler = std::move(handler); }

    // Sends the current snapshot to every client; connected to LiveData::changed.
    void broadcast();

    // Snapshot bytes serialised so far, for diagnostics: a broadcast adds one line however
    // many clients it reaches.
    qint64 bytesSerialised() const { return m_bytesSerialised; }

Q_SIGNALS:
    void clientsChanged(int count);

private:
    void acceptPending();
    void readFrom(QTcpSocket *client);
    void handleLine(QTcpSocket *client, const QByteArray &line);
    void forget(QTcpSocket *client);
    void drop(QTcpSocket *client);
    // Queues `line` for the client; false when the client has fallen too far behind.
    bool send(QTcpSocket *client, const QByteArray &line);
    void answer(QTcpSocket *client, const QJsonObject &object);
    QByteArray snapshotLine();

    LiveData *m_live;
    QTcpServer m_server;
    QList<QTcpSocket *> m_clients;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    Handler m_handler;
    qint64 m_bytesSerialised = 0;
};

} // namespace corvane
