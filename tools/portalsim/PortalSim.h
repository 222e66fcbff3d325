#pragma once

#include "HttpServer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

namespace corvane::sim {

// Forced answers, set on the command line or through POST /_sim/behaviour. They apply to
// every portal request whose path starts with `pathPrefix` (all when empty).
struct Behaviour {
    int status = 0;          // answer with this status instead of serving (0: serve normally)
    QString code;            // error code to put in {"detail": {"error": code}}
    QString detail;          // or a detail text {"detail": text}
    QString pathPrefix;
    int delayMs = 0;
    bool silent = false;
    int times = -1;          // how many requests it applies to; -1 for all
};

// The cloud portal as the plugin sees it: accounts, cookie sessions, devices with a
// simulated game, graphics outputs, commands, claiming and pairing.
class PortalSim : public QObject {
    Q_OBJECT
public:
    explicit PortalSim(QObject *parent = nullptr);

    bool listen(quint16 port);
    QString url() const;
    QString errorString() const { return m_http.errorString(); }

    void setBehaviour(const Behaviour &behaviour) { m_behaviour = behaviour; }
    void setTotpCode(const QString &code) { m_totpCode = code; }
    // Adds "sim_sent_us" to each device state: the monotonic clock, in microseconds, when
    // the state took its current value (for latency benchmarks).
    void setLiveStamp(bool on) { m_liveStamp = on; }
    QString totpCode() const { return m_totpCode; }
    QStringList accountLines() const;
    // A sign-in made in advance: requests carrying this cookie value act as `email`.
    bool addSession(const QString &email, const QByteArray &cookieValue);

private:
    struct Account {
        QString password;
        QString role;
        bool totp = false;
        bool plan = true;
        QString team; // sees the devices of this account instead of its own
    };
    struct Device {
        QString nickname;
        QString status; // "online", "offline", "pending"
        QString blePasskey;
        QString claimCode;
        QString owner;  // account email; empty while unclaimed
        QString adminPassword;
        bool unreachable = false; // online on the account, but its gateway does not answer
    };

    HttpResponse handle(const HttpRequest &request);
    HttpResponse control(const HttpRequest &request);
    HttpResponse serve(const HttpRequest &request, const QJsonObject &body);
    HttpResponse deviceRoute(const HttpRequest &request, const QJsonObject &body, const QString &email);
    HttpResponse signedIn(const QString &email, const QByteArray &existingToken = {});
    QString sessionEmail(const HttpRequest &request) const;
    QString ownerOf(const QString &email) const;
    QJsonObject commandAnswer(const QString &deviceId, const QString &command, const QJsonObject &args) const;
    QJsonObject gameState(const QString &deviceId, bool online) const;
    QJsonArray outputsOf(const QString &email) const;
    void record(const HttpRequest &request);

    HttpServer m_http;
    QMap<QString, Account> m_accounts;
    QMap<QString, Device> m_devices;
    QHash<QByteArray, QString> m_sessions;   // cookie value -> account
    QHash<QString, QString> m_challenges;    // challenge id -> account
    QString m_totpCode = QStringLiteral("424242");
    Behaviour m_behaviour;
    QJsonArray m_requests;
    QElapsedTimer m_clock;
    qint64 m_clockStartUs = 0; // the monotonic clock when m_clock started
    bool m_liveStamp = false;
};

} // namespace corvane::sim
