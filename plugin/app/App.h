#pragma once

#include "app/AppEnvironment.h"
#include "app/OutputsView.h"
#include "base/CallQueue.h"
#include "base/FollowedRoute.h"
#include "base/SettingsStore.h"
#include "cloud/CloudDevice.h"
#include "cloud/GraphicsOutput.h"
#include "cloud/PortalClient.h"
#include "live/DeviceFeeds.h"
#include "live/LiveData.h"
#include "live/ShownScores.h"
#include "update/PluginUpdater.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class QTimer;

namespace corvane {

class DeviceSession;
class FollowedDevices;
class HostedServer;
class OverlayServer;
class RelayHolder;
class SourceManager;
class UsbLink;
class UsbPortShare;

// The hub of the plugin: one per loaded module, living on the OBS user-interface thread.
// Views and sources reach it through instance(); what other threads may use says so.
class App : public QObject {
    Q_OBJECT
public:
    using DoneCallback = std::function<void(bool ok, const QString &message)>;

    explicit App(const AppEnvironment &environment);
    ~App() override;

    static App *instance();
    static void setInstance(App *app);

    PortalClient &portal() { return m_portal; }
    LiveData &live() { return m_live; }
    // What score texts, filters, chapters and events show: the live data unless held.
    ShownScores &shown() { return m_shown; }
    SettingsStore &settings() { return m_settings; }
    HostedServer *server() const { return m_server; }
    OverlayServer *overlayServer() const { return m_overlayServer; }
    SourceManager *sourceManager() const { return m_sourceManager; }
    // The devices followed beside the main one (the one the dock picks).
    FollowedDevices *followed() const { return m_followed; }

    // What a consumer is bound to: the main device (the empty id, its objects above) or
    // one device by its id, the main device's own included, so that a device made main keeps
    // feeding those bound to it. Null for any other id.
    static QString mainDeviceLabel();
    // Any thread: the id of the device the main route runs ("" before one was chosen).
    QString mainDeviceId() const;
    LiveData *liveOf(const QString &deviceId);
    ShownScores *shownOf(const QString &deviceId);
    // Any thread: the same shown scores, kept whole while the caller holds them even if
    // the device is unfollowed meanwhile.
    std::shared_ptr<ShownScores> shownScoresOf(const QString &deviceId);
    // Follows a device beside the main one; false for the main device's own, or one
    // followed already.
    bool followDevice(const FollowedRoute &route);
    PluginUpdater &updater() { return m_updater; }

    // Where plugin updates come from: the maker's, or an allowed local stand-in.
    QString downloadsOrigin() const;

    const QList<CloudDevice> &devices() const { return m_devices; }
    const QList<GraphicsOutput> &outputs() const { return m_outputs; }
    QString outputsError() const { return m_outputsError; }
    // Any thread: the sign-in state, the outputs and the last fetch error, as one value.
    std::shared_ptr<const OutputsView> outputsView() const;

    // Fetch the account's devices or graphics outputs into the cached lists; the callback
    // (may be empty) gets the outcome and the user sentence. An outputs fetch asked for
    // while one for the same sign-in runs joins it: no second request, the same answer.
    void refreshDevices(DoneCallback callback = nullptr);
    void refreshOutputs(DoneCallback callback = nullptr);

    // Any thread: runs `call` on App's thread, after every call posted before it. Calls
    // still waiting when App goes are dropped.
    void post(std::function<void()> call) { m_posted.post(std::move(call)); }

    // Stores the choice and puts the device's route to use: its feed on the local network
    // when one is known with host and token, else cloud polling.
    void selectDevice(const QString &deviceId);
    // Keeps a local-network route that device setup learned; when that device's feed is the
    // route in use, it restarts with the new host, token and certificate (after a device
    // reset, the only way the operator has to trust its new certificate).
    void storeLanRoute(const QString &deviceId, const LanRoute &route);
    // While no route is in use: the stored choice if the account still has it, else the
    // account's only device.
    void autoSelectDevice();

    // Starts or stops the hosted server as the settings say; a failed start is logged.
    void applyServerSettings();
    // The same for the overlay server.
    void applyOverlaySettings();
    // USB sessions kept open after the setup wizard so that their device reaches the cloud
    // through this computer (see RelayHolder); each change emits usbRelaysChanged.
    bool adoptRelay(DeviceSession *session);
    void releaseRelay(const QString &portName);
    // The one way a serial port is opened for a device session: kept relays on the port
    // close, a link that followed devices opened gives way, and they listen to this one.
    UsbLink *openUsbLink(const QString &portName);
    UsbPortShare *usbPorts() const { return m_usbPorts; }
    void releaseAllRelays();
    QStringList relayStatusLines() const;

    // Answers a hosted-server client's request other than "get".
    QJsonObject handleServerCommand(const QString &op, const QJsonObject &request);

    // Test seam: restarts the background update check's timers with shorter delays.
    void setUpdateCheckTimingForTesting(int firstDelayMs, int intervalMs);

Q_SIGNALS:
    void usbRelaysChanged();
    void devicesChanged();
    void outputsChanged();
    void serverStateChanged();
    void overlayStateChanged();
    // Something about the recording's chapters or game log the operator should read now
    // (shown in the dock).
    void recordingNotice(const QString &text);

private:
    // One outputs fetch under way, with everyone waiting for its answer.
    struct OutputsFetch {
        quint64 epoch = 0;
        QList<DoneCallback> waiters;
    };

    Q_INVOKABLE void runPosted() { m_posted.run(); }
    void publishOutputs();
    void onSignedInChanged(bool signedIn);
    bool isCurrentSignIn(quint64 epoch) const;
    QJsonObject serverStatus(const QJsonObject &request);
    QJsonObject serverDevices(const QJsonObject &request);
    QJsonObject serverUse(const QJsonObject &request);
    void setUpUpdater(const AppEnvironment &environment);
    void onUpdaterStateChanged();
    void backgroundUpdateCheck();
    // The followed devices as the live servers see them.
    DeviceFeeds followedFeeds() const;
    void onMainRouteChanged();
    bool isMainDevice(const QString &deviceId) const;

    PortalClient m_portal;
    LiveData m_live;
    ShownScores m_shown{&m_live};
    SettingsStore m_settings;
    RelayHolder *m_relays;
    SourceManager *m_sourceManager;
    UsbPortShare *m_usbPorts;
    FollowedDevices *m_followed;
    HostedServer *m_server;
    OverlayServer *m_overlayServer;
    QList<CloudDevice> m_devices;
    QList<GraphicsOutput> m_outputs;
    QString m_outputsError;
    std::shared_ptr<OutputsFetch> m_outputsFetch;
    mutable std::mutex m_viewLock;
    std::shared_ptr<const OutputsView> m_outputsView; // guarded by m_viewLock
    mutable std::mutex m_mainLock;
    QString m_mainId; // guarded by m_mainLock
    PluginUpdater m_updater;
    QTimer *m_firstUpdateCheck;
    QTimer *m_dailyUpdateCheck;
    // Counts sign-in changes, so that a list asked for before one is not taken after it.
    quint64 m_signInEpoch = 0;
    CallQueue m_posted{this, "runPosted"};
};

} // namespace corvane
