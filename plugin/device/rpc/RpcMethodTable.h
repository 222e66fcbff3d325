#pragma once

#include <QList>
#include <QString>

namespace corvane {

// One admin method of the device: its default deadline and whether the local-network
// transport carries it (the others are refused there with NotAvailableHereCode).
struct RpcMethodInfo {
    QString name;
    qint32 timeoutMs;
    bool network;
};

// Every admin method the plugin issues, in the device's documented order.
const QList<RpcMethodInfo> &rpcMethodTable();
// The entry for `method`, or nullptr for a method the plugin does not issue.
const RpcMethodInfo *rpcMethodInfo(const QString &method);
// The method's default deadline; RpcClient's default for an unknown method.
qint32 rpcTimeoutMs(const QString &method);
// Whether the local-network transport carries `method`; false for an unknown method.
bool rpcCarriedOverNetwork(const QString &method);

// Deadlines that differ from the table by circumstance.
constexpr qint32 kLoginThroughReceiverTimeoutMs = 30000; // "login" relayed over the air
constexpr qint32 kC6OtaStatusPollTimeoutMs = 8000;       // "c6OtaStatus" inside the progress loop

// How the network transport refuses a method it does not carry.
inline QString notAvailableHereCode()
{
    return QStringLiteral("not_available_here");
}
inline QString notAvailableHereMessage()
{
    return QStringLiteral("This is only available over USB or Bluetooth, not over the network.");
}

} // namespace corvane
