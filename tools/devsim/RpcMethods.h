#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>

namespace corvane::devsim {

// The device's RPC methods: one table from method name to handler, so that the method set
// grows by adding entries. A request envelope {"id","method","params"} goes in, the reply
// envelope {"id","ok","result"} or {"id","ok":false,"error":{"code","message"}} comes out.
class RpcMethods {
public:
    struct Reply {
        bool ok = true;
        QJsonValue result;
        QString code;
        QString message;

        static Reply success(const QJsonValue &value) { return Reply{true, value, {}, {}}; }
        static Reply failure(const QString &code, const QString &message) { return Reply{false, {}, code, message}; }
    };
    using Handler = std::function<Reply(const QJsonObject &params)>;

    // `status` supplies the device's current status for "getStatus".
    explicit RpcMethods(std::function<QJsonObject()> status);

    void add(const QString &method, Handler handler);
    bool contains(const QString &method) const { return m_handlers.contains(method); }

    // The compact reply text for one request text; empty when the request carries no id.
    QByteArray handle(const QByteArray &request, QString *method = nullptr);

private:
    QHash<QString, Handler> m_handlers;
    QHash<QString, int> m_busyLeft; // per "key" of busyFor
};

} // namespace corvane::devsim
