#pragma once

#include "device/rpc/RpcResult.h"
#include "device/settings/ControllerChoice.h"
#include "device/settings/WifiNetwork.h"
#include "device/settings/WirelessLink.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

namespace corvane {

class DeviceLink;
class RpcClient;

// The administrator's session with one device over one link: signs in (factory password
// first, then the one that last worked, then what the user types), keeps the last status,
// polls the live state on links that need it, tells a lost link from an expected restart,
// and runs the device operations. It owns the link and the RPC client on its transport.
// Every operation's callback runs exactly once, also when the session is closed or
// destroyed first.
class DeviceSession : public QObject {
    Q_OBJECT
public:
    enum State {
        Idle,
        Connecting,
        SigningIn,
        NeedsPassword,
        NeedsNewPassword,
        Ready,
        Lost,
        Error,
        Restarting,
    };
    Q_ENUM(State)

    using DoneCallback = std::function<void(bool ok, const QString &error)>;
    using ScanCallback = std::function<void(bool ok, const QList<WifiNetwork> &networks, const QString &note)>;
    using ProgressCallback = std::function<void(const QString &text)>;
    using ControllersCallback = std::function<void(bool ok, const QList<ControllerChoice> &controllers, const QString &error)>;
    using ConfigCallback = std::function<void(bool ok, const QJsonObject &config, const QString &error)>;
    using TokenCallback = std::function<void(bool ok, const QString &token, const QString &error)>;
    using TransmitterCallback = std::function<void(bool ok, const QString &error, const QString &key)>;
    using WirelessLinkCallback = std::function<void(const WirelessLink &link)>;

    // The session's clocks; the defaults are the production values.
    struct Timing {
        int pollIntervalMs = 1000;
        int pollTimeoutMs = 6000;
        int wifiCheckIntervalMs = 3000;
        int loginTimeoutMs = 20000;
        int receiverLoginTimeoutMs = 30000;
        int rebootTimeoutMs = 8000;
    };

    static QString factoryPassword() { return QStringLiteral("mapleguard"); }
    static constexpr int MaxPollTimeouts = 3;
    static constexpr int MaxWifiChecks = 13;

    // Takes ownership of `link`.
    explicit DeviceSession(DeviceLink *link, QObject *parent = nullptr);
    ~DeviceSession() override;

    void start();
    void submitPassword(const QString &password);
    void signInThroughReceiver();
    // Silent: leaves the session Idle without stateChanged.
    void close();

    void refreshStatus(DoneCallback done);
    void changePassword(const QString &current, const QString &next, DoneCallback done);
    void reboot(DoneCallback done);
    void scanWifi(ScanCallback done);
    void configureWifi(const QString &ssid, const QString &pass, ProgressCallback progress, DoneCallback done);
    void wirelessLink(WirelessLinkCallback done);
    void enableWirelessTransmitter(const QString &peerMac, const QString &key, bool generateKey, TransmitterCallback done);
    void disableEspNowSender(DoneCallback done);
    void listControllers(ControllersCallback done);
    void getControllerConfig(ConfigCallback done);
    void setController(const ControllerChoice &choice, DoneCallback done);
    void ensureApiToken(TokenCallback done);

    State state() const { return m_state; }
    QString lastError() const { return m_lastError; }
    QJsonObject status() const { return m_status; }
    QJsonObject hello() const { return m_hello; }
    QString password() const { return m_password; }
    DeviceLink *link() const { return m_link; }
    RpcClient *rpc() const { return m_rpc; }
    bool mustChangePassword() const { return m_mustChangePassword; }
    bool receiverOnly() const { return m_receiverOnly; }
    bool viaReceiver() const { return m_viaReceiver; }
    bool transmitterOn() const { return m_transmitterOn; }
    bool restartExpected() const { return m_restartExpected; }
    QString deviceId() const;
    QString firmwareVersion() const;
    QString stationIp() const;

    void setTimingForTests(const Timing &timing);

    static QString receiverTimeoutText();
    static QString stoppedAnsweringText();

Q_SIGNALS:
    void stateChanged(corvane::DeviceSession::State state, const QString &detail);
    void envelope(const QJsonObject &env);
    void statusUpdated();

private:
    struct WifiCheck;

    void setState(State state, const QString &detail = QString());
    void onLinkOpened(const QJsonObject &info);
    void onLinkClosed(const QString &reason);
    void onLinkFailed(const QString &code, const QString &message);
    void tryNextPassword();
    void afterLogin();
    void startPollingIfNeeded();
    void stopPolling();
    void pollOnce();
    void loseLink(const QString &code, const QString &message, const QString &reason);
    void call(const QString &method, const QJsonObject &params, RpcCallback callback, qint32 timeoutMs = 0);
    void verifyWifi(const QString &ssid, int attempt, ProgressCallback progress, DoneCallback done);
    void finishWifiCheck(const std::shared_ptr<WifiCheck> &check);
    void endWifiChecks(const QString &message);

    DeviceLink *m_link = nullptr;
    RpcClient *m_rpc = nullptr;
    State m_state = Idle;
    QString m_lastError;
    QJsonObject m_status;
    QJsonObject m_hello;
    QStringList m_candidates;
    QString m_password;
    bool m_mustChangePassword = false;
    bool m_receiverOnly = false;
    bool m_viaReceiver = false;
    bool m_transmitterOn = false;
    bool m_restartExpected = false;
    QTimer m_pollTimer;
    bool m_pollInFlight = false;
    int m_pollTimeouts = 0;
    Timing m_timing;
    // Sign-in and poll answers belong to one connection; a start, a close or a loss begins
    // a new one so that answers of the old one change nothing.
    quint64 m_connection = 0;
    QList<std::shared_ptr<WifiCheck>> m_wifiChecks;
};

} // namespace corvane
