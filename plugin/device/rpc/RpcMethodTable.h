#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace corvane {

// One admin method of the device, its default deadline and the order in which the device
// documents its parameters (requests are written in that order, other keys after them).
// Which transports carry it is theirs to say: the network transport's route table lists
// what the web API serves.
struct RpcMethodInfo {
    QString name;
    qint32 timeoutMs;
    QStringList paramOrder;
};

// Every admin method the plugin issues, in the device's documented order.
const QList<RpcMethodInfo> &rpcMethodTable();
// The entry for `method`, or nullptr for a method the plugin does not issue.
const RpcMethodInfo *rpcMethodInfo(const QString &method);
// The method's default deadline; RpcClient's default for an unknown method.
qint32 rpcTimeoutMs(const QString &method);
// The documented order of the method's parameters (empty for a method the plugin does not
// issue), and the parameters as compact JSON in that order.
QStringList rpcParamOrder(const QString &method);
QByteArray rpcParamsJson(const QString &method, const QJsonObject &params);

// Deadlines that differ from the table by circumstance.
constexpr qint32 kLoginThroughReceiverTimeoutMs = 30000; // "login" relayed over the air
constexpr qint32 kC6OtaStatusPollTimeoutMs = 8000;       // "c6OtaStatus" inside the progress loop

} // namespace corvane
