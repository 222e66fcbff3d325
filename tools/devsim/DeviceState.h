#pragma once

#include "LiveGame.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace corvane::devsim {

// Everything one simulated device knows: its admin password and lock-out, Wi-Fi, wireless
// transmitter, controller, settings, tokens, firmware updates and the game it reads. Every
// front end (the USB line, the web API) works on the same object through RpcMethods, so a
// change made over one is seen over the other. A restart goes through here too: front ends
// drop their connections on wentDown and take them up again on cameUp.
class DeviceState : public QObject {
    Q_OBJECT
public:
    static constexpr const char *FactoryPassword = "mapleguard";

    struct Options {
        bool receiver = false;      // a wireless receiver relays to the device
        QString password;           // empty: factory-fresh, asks for a new password
        int maxFailures = 5;        // wrong passwords before the lock-out
        int lockoutMs = 30000;
        int restartMs = 3000;       // how long a restart keeps the device away
        int joinChecks = 3;         // status reads until a Wi-Fi join settles
        int scanMs = 800;           // how long a Wi-Fi scan takes
        int netTestPolls = 3;       // "networkTest" polls until the test is done
        QString wifiSsid;           // on this network from the start
        QString pairedReceiver;     // paired with this receiver (and a key) from the start
        int relayDelayMs = 300;     // receiver mode: added to every relayed answer
        bool pairedSilent = false;  // receiver mode: the paired device does not answer
        QString statePath;          // kept across runs when not empty
        QString sport = QStringLiteral("cycle");
    };

    explicit DeviceState(const Options &options, QObject *parent = nullptr);

    const Options &options() const { return m_options; }
    void setPairedSilent(bool silent) { m_options.pairedSilent = silent; }
    void setRestartMs(int ms) { m_options.restartMs = ms; }

    // Sessions signed in before this number changes are dropped (restart, "logout").
    quint64 sessionEpoch() const { return m_sessionEpoch; }
    void dropSessions() { ++m_sessionEpoch; }

    // The device goes down shortly (after the current answer is on its way) and comes back
    // after restartMs. Asking again while a restart is under way changes nothing.
    void scheduleRestart(const QString &why);
    bool restarting() const { return m_restarting; }

    // Status members a front end adds about itself (for example the cloud route).
    void setExtraStatus(const QJsonObject &extra) { m_extraStatus = extra; }

    // Everything back to the state it left the factory in (the restart is up to the caller).
    void resetToFactory();

    QJsonObject status();
    void log(const QString &line);
    void save() const;
    qint64 uptimeMs() const { return m_uptime.elapsed(); }
    LiveGame &game() { return m_game; }
    QRandomGenerator &random() { return m_random; }
    QString randomHex(int digits);

    // Public state, read and changed by the method handlers.
    QString deviceId = QStringLiteral("CVSIM-0001");
    QString model = QStringLiteral("Corvane One (simulated)");
    QString firmwareVersion = QStringLiteral("1.4.0-sim");
    QString c6Version = QStringLiteral("c6-2.0.1-sim");
    // The SHA-256 fingerprint of the live feed's certificate, as a device reports it; a
    // receiver, which has no feed, keeps this made-up one.
    QString tlsFingerprint = QStringLiteral("5e:1a:9c:44:0b:7d:21:e3:98:aa:10:6f:c2:3b:7e:51");
    QString password;
    bool mustChangePassword = false;
    int failedLogins = 0;
    QElapsedTimer lockedSince; // valid while locked out

    QString wifiSsid;
    QString wifiPass;
    QString wifiStaIp;
    struct Join {
        QString state; // empty (none), "connecting", "ok", "reverted"
        QString ssid;
        QString pass;
        QString detail;
        int checks = 0;
        QElapsedTimer since;
    } join;

    QString espnowRole = QStringLiteral("off");
    QString espnowConfiguredRole = QStringLiteral("off");
    QString peerMac;
    QString espnowKey;

    QJsonObject controller; // manufacturer, model, sport, input_type
    QJsonObject settings;
    QString apiToken;
    bool mqttConfigured = true;
    QString blePasskey;

    struct Update {
        QString state = QStringLiteral("idle");
        qint64 totalBytes = 0;
        QString error;
        QString targetVersion;
        QElapsedTimer since;
    } ota, c6;
    QString availableVersion = QStringLiteral("1.5.0-sim");

    int networkTestCalls = 0;
    int boots = 1; // counts starts, so that an answer held back across a restart is dropped
    QStringList logs;

Q_SIGNALS:
    // The device has gone away; front ends drop their lines and sessions.
    void wentDown();
    // The device is back with the same settings and password.
    void cameUp();

private:
    void applyFactoryDefaults();
    void load();
    QJsonObject persistent() const;
    void applyAfterRestart();

    Options m_options;
    quint64 m_sessionEpoch = 1;
    bool m_restarting = false;
    QJsonObject m_extraStatus;
    QElapsedTimer m_uptime;
    LiveGame m_game;
    QRandomGenerator m_random;
};

} // namespace corvane::devsim
