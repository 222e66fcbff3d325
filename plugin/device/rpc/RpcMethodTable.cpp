#include "device/rpc/RpcMethodTable.h"

#include "device/rpc/RpcClient.h"

namespace corvane {

namespace {

struct Row {
    const char *name;
    qint32 timeoutMs;
};

constexpr Row Rows[] = {
    {"login", 20000},
    {"getStatus", 20000},
    {"getState", 6000},
    {"changePassword", 20000},
    {"ensureApiToken", 20000},
    {"scanWifi", 40000},
    {"configureWifi", 20000},
    {"getEspNow", 20000},
    {"setEspNow", 20000},
    {"getControllerList", 20000},
    {"getControllerConfig", 20000},
    {"setControllerConfig", 20000},
    {"getSettings", 20000},
    {"setSettings", 20000},
    {"networkTest", 25000},
    {"otaCheck", 30000},
    {"otaApply", 20000},
    {"otaProgress", 8000},
    {"c6OtaStatus", 20000},
    {"c6OtaApply", 20000},
    {"blePasskey", 20000},
    {"getLogs", 30000},
    {"resetLocalPassword", 20000},
    {"factoryReset", 20000},
    {"clearMqttConfig", 20000},
    {"setDeviceId", 20000},
    {"reboot", 8000},
};

QList<RpcMethodInfo> buildTable()
{
    QList<RpcMethodInfo> table;
    for (const Row &row : Rows)
        table.append(RpcMethodInfo{QString::fromLatin1(row.name), row.timeoutMs});
    return table;
}

} // namespace

const QList<RpcMethodInfo> &rpcMethodTable()
{
    static const QList<RpcMethodInfo> table = buildTable();
    return table;
}

const RpcMethodInfo *rpcMethodInfo(const QString &method)
{
    for (const RpcMethodInfo &info : rpcMethodTable()) {
        if (info.name == method)
            return &info;
    }
    return nullptr;
}

qint32 rpcTimeoutMs(const QString &method)
{
    const RpcMethodInfo *info = rpcMethodInfo(method);
    return info ? info->timeoutMs : RpcClient::kDefaultTimeoutMs;
}

} // namespace corvane
