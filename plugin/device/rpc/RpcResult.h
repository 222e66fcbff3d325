#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>

namespace corvane {

// The outcome of one device RPC: the result object when ok, otherwise a lower_snake_case
// code and a user-facing sentence.
struct RpcResult {
    bool ok = false;
    QJsonObject result;
    QString code;
    QString message;

    static RpcResult success(const QJsonObject &result)
    {
        RpcResult r;
        r.ok = true;
        r.result = result;
        return r;
    }
    static RpcResult failure(const QString &code, const QString &message)
    {
        RpcResult r;
        r.code = code;
        r.message = message;
        return r;
    }
};

using RpcCallback = std::function<void(const RpcResult &result)>;

} // namespace corvane
