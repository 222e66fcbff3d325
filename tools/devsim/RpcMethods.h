#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>

namespace corvane::devsim {

class DeviceState;

// One client's admin sign-in on the device: the USB line has one, the web API one per
// cookie. It is read and written only while handle() runs.
struct AdminSession {
    quint64 epoch = 0; // DeviceState::sessionEpoch() at login; 0: not signed in
};

// The device's RPC methods: one table from method name to handler over one DeviceState.
// Front ends call handle() with the method, its params and the caller's AdminSession; the
// reply callback runs exactly once, at once or later (a scan takes a while, a receiver
// relays slowly), unless the device went down meanwhile or the paired device is out of
// reach, in which case it never runs, as a real device would never answer.
class RpcMethods {
public:
    struct Reply {
        bool ok = true;
        QJsonValue result;
        QString code;
        QString message;

        static Reply success(const QJsonValue &value = QJsonObject()) { return Reply{true, value, {}, {}}; }
        static Reply failure(const QString &code, const QString &message) { return Reply{false, {}, code, message}; }
    };
    using ReplyCallback = std::function<void(const Reply &reply)>;

    explicit RpcMethods(DeviceState *state);

    bool contains(const QString &method) const { return m_handlers.contains(method); }
    QStringList methods() const { return m_handlers.keys(); }

    void handle(const QString &method, const QJsonObject &params, AdminSession &session, ReplyCallback reply);

    // The envelope form used on the USB line: a request text in, the compact reply text
    // out through `reply`. Requests without an id get no answer.
    void handleEnvelope(const QByteArray &request, AdminSession &session, std::function<void(const QByteArray &)> reply,
                        QString *method = nullptr);
    static QByteArray encodeReply(const QJsonValue &id, const Reply &reply);

private:
    enum class Access {
        Open,       // no sign-in needed
        SignedIn,   // any signed-in session
        Configured, // signed in and the factory password already changed
    };
    // A handler either returns its reply (answered at once) or sets `deferred` and answers
    // through `later` itself.
    struct Call {
        QJsonObject params;
        AdminSession *session = nullptr;
        bool deferred = false;
        ReplyCallback later;
    };
    using Handler = std::function<Reply(Call &call)>;
    struct Entry {
        Access access;
        Handler handler;
    };

    void add(const QString &method, Access access, Handler handler);
    void addDiagnostics();
    void addAccount();
    void addNetwork();
    void addScoreboard();
    void addUpdates();
    void addMaintenance();
    void answerLater(int delayMs, ReplyCallback reply, const Reply &value);

    DeviceState *m_state;
    int m_wifiScans = 0; // scans answered so far: signal strengths drift between them
    QHash<QString, Entry> m_handlers;
    QHash<QString, int> m_busyLeft; // per "key" of busyFor
};

} // namespace corvane::devsim
