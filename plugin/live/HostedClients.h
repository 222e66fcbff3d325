#pragma once

#include "base/CallQueue.h"
#include "live/ClientBounds.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QTcpSocket;

namespace corvane {

// The hosted server's connected clients, living on a thread of their own so that writing
// an update to every client costs the user-interface thread one queued call, whatever the
// number of clients. It only moves bytes: it writes the lines it is given, in the order it
// is given them, and hands each complete request line back through requestReceived; all
// decisions about what to answer stay with HostedServer on the user-interface thread.
// Other threads reach it through post(); every other public method runs on its own thread.
class HostedClients : public QObject {
    Q_OBJECT
public:
    // One unfinished request line may grow to this; a longer one disconnects the client.
    static constexpr qsizetype kMaxPendingInput = ClientBounds::kMaxPendingInput;
    // A client that stops reading is disconnected once this much output waits for it.
    static constexpr qint64 kMaxPendingOutput = ClientBounds::kMaxPendingOutput;

    // What one client reads: one device's lines (the main one, the empty id, until it asks
    // for another), every device's lines each naming its device, or nothing once the device
    // it read was unfollowed.
    struct Watch {
        enum Kind { Device, All, None };
        Kind kind = Device;
        QString device = QString();
    };

    explicit HostedClients(QObject *parent = nullptr);
    ~HostedClients() override;

    // Any thread: runs `call` on this object's thread, after every call posted before it.
    void post(std::function<void()> call) { m_calls.post(std::move(call)); }

    // Takes over an accepted connection and writes `greeting` to it first. `generation`
    // tags the server's current listening period; see closeAll.
    void adopt(qintptr descriptor, const QByteArray &greeting, quint64 generation);
    // Writes one device's update, in connection order: `line` to the clients reading that
    // device (by `alias` too, when given: the main device's own id), `named` (the same naming
    // the device) to those reading every device. An empty one is not written.
    void broadcast(const QString &device, const QByteArray &line, const QByteArray &named, const QString &alias = QString());
    // From now on `client` reads as `watch` says; `lines` (its answer and first snapshots)
    // go to it first. A client that is gone is reported through clientLeft.
    void watch(quint64 client, const Watch &watch, const QByteArray &lines);
    // `device` is gone: its readers get `line` and read nothing more, and those reading
    // every device get `line` too when `tellAll`.
    void unfollowed(const QString &device, const QByteArray &line, bool tellAll = true);
    // Writes `line` to one client, if it is still connected.
    void reply(quint64 client, const QByteArray &line);
    // Disconnects every client. Those that have read everything get a graceful close; one
    // still holding unread output is reset at once, since a reader that stopped reading
    // would otherwise keep its socket and up to kMaxPendingOutput bytes alive for good.
    // Counts reported afterwards carry `generation`.
    void closeAll(quint64 generation);

    int count() const { return static_cast<int>(m_clients.size()); }

Q_SIGNALS:
    // A complete, trimmed, non-empty request line from `client`, adopted in `generation`.
    void requestReceived(quint64 generation, quint64 client, const QByteArray &line);
    // `client` is gone (reported before the count that leaves it out).
    void clientLeft(quint64 client);
    // The number of clients changed, or a connection was taken over (even one that failed);
    // `generation` as given to adopt or closeAll, `adopted` the number of adopt calls so far.
    void countChanged(quint64 generation, int count, quint64 adopted);

private:
    Q_INVOKABLE void runQueued() { m_calls.run(); }

    struct Client {
        quint64 id;
        quint64 generation;
        QTcpSocket *socket;
        QByteArray input; // bytes after the last line feed
        Watch watch = {};
    };

    Client *find(quint64 id);
    // Whether `client` reads `device` alone (not as one of every device).
    static bool readsAlone(const Client &client, const QString &device);
    void readFrom(quint64 id);
    // Queues `line` for the client; false when the client has fallen too far behind.
    static bool send(QTcpSocket *socket, const QByteArray &line);
    void drop(quint64 id);
    void forget(quint64 id);

    QList<Client> m_clients;
    quint64 m_nextId = 1;
    quint64 m_generation = 0;
    quint64 m_adopted = 0;
    CallQueue m_calls{this, "runQueued"};
};

} // namespace corvane
