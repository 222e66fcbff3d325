#include "device/RpcMethodTable.h"

#include "device/RpcClient.h"

namespace corvane {

namespace {

struct Row {
    const char *name;
    qint32 timeoutMs;
    bool network;
};

constexpr Row Rows[] = {
    {"login", 20000, true},
    {"getStatus", 20000, true},
    {"getState", 6000, true},
    {"changePassword", 20000, true},
    {"ensureApiToken", 20000, true},
    {"scanWifi", 40000, true},
    {"configureWifi", 20000, true},
    {"getEspNow", 20000, false},
    {"setEspNow", 20000, false},
    {"getControllerList", 20000, true},
    {"getControllerConfig", 20000, true},
    {"setControllerConfig", 20000, true},
    {"getSettings", 20000, true},
    {"setSettings", 20000, true},
    {"networkTest", 25000, true},
    {"otaCheck", 30000, true},
    {"otaApply", 20000, true},
    {"otaProgress", 8000, true},
    {"c6OtaStatus", 20000, true},
    {"c6OtaApply", 20000, true},
    {"blePasskey", 20000, true},
    {"getLogs", 30000, false},
    {"resetLocalPassword", 20000, false},
    {"factoryReset", 20000, false},
    {"clearMqttConfig", 20000, false},
    {"setDeviceId", 20000, true},
    {"reboot", 8000, true},
};

QList<RpcMethodInfo> buildTable()
{
    QList<RpcMethodInfo> table;
    for (const Row &row : Rows)
        table.append(RpcMethodInfo{QString::fromLatin1(row.name), row.timeoutMs, row.network});
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

bool rpcCarriedOverNetwork(const QString &method)
{
    const RpcMethodInfo *info = rpcMethodInfo(method);
    return info && info->network;
}

} // namespace corvane
