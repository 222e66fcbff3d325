#pragma once

#include "base/LanRoute.h"
#include "device/DeviceLink.h"
#include "device/DeviceSession.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace corvane {

class LiveData;
class PortalClient;
class TlsFeed;

// Chooses where live data comes from (cloud polling, the device's feed on the local network,
// or a device session the setup wizard opened), runs that one route, feeds its messages into
// LiveData and keeps a one-line status for the dock and the hosted server.
class SourceManager : public QObject {
    Q_OBJECT
public:
    enum Mode { None = 0, Cloud = 1, Lan = 2, Session = 3 };

    // Cloud polling clocks; the defaults are the production values.
    struct Timing {
        int pollIntervalMs = 1000;
        int slowPollIntervalMs = 5000;
    };
    static constexpr int kFailuresBeforeSlowPolling = 6;

    SourceManager(PortalClient *portal, LiveData *liveData, QObject *parent = nullptr);
    ~SourceManager() override;

    // `label` names the device in the status and the live data; empty: its id.
    void useCloud(const QString &deviceId, const QString &label = QString());
    void useLan(const QString &deviceId, const LanRoute &route);
    // `reconnects`: the session's owner connects again after a loss by itself (a followed
    // device), so a restart is not the operator's to mend.
    void useDevice(DeviceSession *session, const QString &label, bool reconnects = false);
    // A device link with no session of its own (a followed USB device listening to
    // whichever link has its port); live messages flow as from a session. Null: no link
    // has the port now.
    void useLink(const QString &deviceId, DeviceLink *link, const QString &label);
    // Ends the route in use; mode, labels and status stay visible.
    void stop();

    int mode() const { return m_mode; }
    // False while no route runs: none was chosen yet, or the cloud route ended at a sign-out
    // and waits to be chosen anew.
    bool isRouteInUse() const { return m_mode != None && !m_endedBySignOut; }
    QString device() const { return m_device; }
    QString source() const { return m_source; }
    bool isLive() const { return m_live; }
    QString message() const { return m_message; }
    // How the route reaches the device: "cloud", "lan", or its link's kind ("usb", "ble");
    // "" while none was chosen.
    QString routeKind() const;
    int pollInterval() const { return m_pollTimer.interval(); }
    bool isPolling() const { return m_pollTimer.isActive(); }
    int failures() const { return m_failures; }
    TlsFeed *feed() const { return m_feed; }

    // Test seams: shorter polling clocks, and a feed port other than the device's fixed one.
    void setTimingForTests(const Timing &timing);
    void setFeedPortForTests(quint16 port) { m_feedPort = port; }

Q_SIGNALS:
    void statusChanged();
    // Another device (or route) was chosen: device() may name another one now.
    void routeChanged();
    // The local-network route of `deviceId`, stored without a pin, met this certificate
    // first; its user keeps the pin with the route.
    void lanCertificatePinned(const QString &deviceId, const QString &sha256);

private:
    void setStatus(bool live, const QString &message);
    void setRoute(int mode, const QString &device, const QString &source);
    QString text(const char *pattern) const;
    void pollCloud();
    void stopPolling();
    void onPollReply(bool ok, const QJsonObject &body, const QString &code, const QString &message);
    void onSignedInChanged(bool signedIn);
    void onFeedConnected(bool connected, const QString &detail);
    void onFeedEnvelope(const QJsonObject &message);
    void onSessionEnvelope(const QJsonObject &message);
    void onSessionState(DeviceSession::State state, const QString &detail);

    PortalClient *m_portal;
    LiveData *m_liveData;
    int m_mode = None;
    QString m_device;
    QString m_answering; // the id a link's device gave for itself, when it said one
    QString m_source;
    bool m_live = false;
    QString m_message;
    QTimer m_pollTimer;
    bool m_pollInFlight = false;
    int m_failures = 0;
    int m_generation = 0;
    bool m_endedBySignOut = false;
    TlsFeed *m_feed;
    QPointer<DeviceSession> m_session;
    bool m_sessionReconnects = false;
    QPointer<DeviceLink> m_link;
    Timing m_timing;
    quint16 m_feedPort;
};

} // namespace corvane
