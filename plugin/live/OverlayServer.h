#pragma once

#include "base/CallQueue.h"
#include "live/DeviceFeeds.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace corvane {

class LiveData;
class OverlayHost;
class ShownScores;
class ShownSnapshot;

// Serves the live scoreboard to web pages on this computer (127.0.0.1 only): GET /live
// upgrades to a read-only WebSocket that sends the snapshot JSON on connect and after every
// change, GET /live.json answers the current snapshot, and GET /overlays/NAME/... serves the
// built-in overlays and the user's own (see OverlayFiles). Who may connect is OverlayAccess's
// rule.
//
// Everything network-facing lives on a thread of its own (OverlayHost); this object, on the
// user-interface thread, serialises the snapshot (LiveData keeps one serialisation per
// state, shared with the hosted server) and hands it over with one queued call per update,
// however many pages are connected.
//
// "?device=ID" on /live, /live.json or any page asks for a followed device instead of the
// main one (the main device's own id names the main one); any other device gets 404. Pages
// naming the main device by its id are closed when another becomes main: they come back to
// it wherever it is followed then. A followed device is serialised only
// while some page reads it: the overlay thread asks for it when its first reader comes and
// lets it go when the last one leaves. Pages reading a device that is unfollowed are closed
// (the built-in pages keep trying, and show it again once it is followed again).
class OverlayServer : public QObject {
    Q_OBJECT
public:
    static constexpr char kBuiltInRoot[] = ":/corvane/overlays";
    // How long unloading waits for the overlay thread to let go of its sockets.
    static constexpr std::chrono::milliseconds kStopWait{5000};

    // `shown` (may be null: always the live state) says what the production shows, held or
    // live; pages show the same. `userOverlays` is the user's overlays folder (may be empty:
    // built-in overlays only).
    OverlayServer(LiveData *live, ShownScores *shown, const QString &userOverlays, QObject *parent = nullptr);
    ~OverlayServer() override;

    // Test seam: shorter head and idle deadlines, for the next start().
    void setTimeoutsForTesting(std::chrono::milliseconds head, std::chrono::milliseconds idle);

    // Stops first, then listens on 127.0.0.1:`port`. On failure `error` gets
    // "Could not listen on port %1: %2".
    bool start(quint16 port, QString *error);
    void stop();

    bool isListening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    // Connected WebSocket clients.
    int clientCount() const { return m_clientCount; }

    QString userOverlaysDir() const { return m_userOverlays; }
    // The overlays served: built-in ones first, then the user's folders.
    QStringList overlayNames() const;
    // http://127.0.0.1:PORT/overlays/NAME/ while listening, else empty.
    QString overlayAddress(const QString &name) const;

    // Sends the current snapshot to every WebSocket client; connected to LiveData::changed.
    void broadcast();

    // The devices followed beside the main one; none until set.
    void setFeeds(DeviceFeeds feeds);
    // Tell the server, as they happen.
    void deviceFollowed(const QString &deviceId);
    void deviceUnfollowed(const QString &deviceId);
    // The main device may be another one now (its id as the feeds give it).
    void mainDeviceChanged();

    // Snapshot bytes handed to the client thread so far: one snapshot per update however
    // many clients it reaches.
    qint64 bytesSerialised() const { return m_bytesSerialised; }

Q_SIGNALS:
    void clientsChanged(int count);

private:
    struct Relay;
    // A followed device. What its pages would show is kept from when it is followed, so that
    // a hold begun before its first page keeps for that page what the production showed.
    struct Followed {
        std::shared_ptr<DeviceLive> data;
        std::unique_ptr<ShownSnapshot> shown;
        QMetaObject::Connection changed; // while some page reads it
    };

    Q_INVOKABLE void runQueued() { m_fromHost.run(); }
    void toHost(std::function<void(OverlayHost &)> call);
    QByteArray snapshot();
    void onDeviceWanted(const QString &deviceId, bool wanted);
    void publishDevice(const QString &deviceId);
    void track(const QString &deviceId);
    void unwatch(const QString &deviceId);

    ShownSnapshot *m_shown; // a child: the main device's
    QString m_userOverlays;
    std::chrono::milliseconds m_headTimeout;
    std::chrono::milliseconds m_idleTimeout;
    QThread *m_thread = nullptr; // left running, not deleted, if it outlasts kStopWait
    // The host's reports reach this object through it, and stop when this object goes.
    std::shared_ptr<Relay> m_relay;
    QObject *m_anchor = nullptr;   // lives on m_thread, where the host is made
    OverlayHost *m_host = nullptr; // lives on m_thread; deleted there
    quint16 m_port = 0;
    int m_clientCount = 0;
    // Grows with every stop, so that counts about clients of an earlier listening period
    // are recognised as stale.
    quint64 m_generation = 0;
    qint64 m_bytesSerialised = 0;
    DeviceFeeds m_feeds;
    QString m_mainId; // as the overlay thread was last told
    std::map<QString, Followed> m_followed;
    CallQueue m_fromHost{this, "runQueued"};
};

} // namespace corvane
