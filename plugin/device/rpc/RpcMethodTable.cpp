#include "device/rpc/RpcMethodTable.h"

#include "base/OrderedJson.h"
#include "device/rpc/RpcClient.h"

namespace corvane {

namespace {

struct Row {
    const char *name;
    qint32 timeoutMs;
    const char *params; // the documented parameter order, names separated by spaces
};

constexpr Row Rows[] = {
    {"login", 20000, "password"},
    {"getStatus", 20000, ""},
    {"getState", 6000, ""},
    {"changePassword", 20000, "current_password new_password confirm_password"},
    {"ensureApiToken", 20000, "force_new"},
    {"scanWifi", 40000, ""},
    {"configureWifi", 20000, "ssid pass"},
    {"getEspNow", 20000, ""},
    {"setEspNow", 20000, "role peer_mac generate_key key"},
    {"getControllerList", 20000, ""},
    {"getControllerConfig", 20000, ""},
    {"setControllerConfig", 20000, "manufacturer model sport input_type"},
    {"getSettings", 20000, ""},
    {"setSettings", 20000,
     "http_endpoint_enabled tcp_feed_enabled test_cloud_data_enabled mqtt_config_enabled manufacturer model sport "
     "input_type wireless_output_enabled wireless_output_network_id wireless_output_channel "
     "ethernet_bridge_output_enabled ethernet_bridge_peer_host ethernet_bridge_port usb_tunnel_enabled usb_tunnel_port "
     "xbee_channel xbee_pan_id wireless_auto_scan wireless_group wireless_channel"},
    {"networkTest", 25000, ""},
    {"otaCheck", 30000, ""},
    {"otaApply", 20000, ""},
    {"otaProgress", 8000, ""},
    {"c6OtaStatus", 20000, ""},
    {"c6OtaApply", 20000, "source force"},
    {"blePasskey", 20000, ""},
    {"getLogs", 30000, ""},
    {"resetLocalPassword", 20000, "confirm"},
    {"factoryReset", 20000, "confirm"},
    {"clearMqttConfig", 20000, ""},
    {"setDeviceId", 20000, "device_id"},
    {"reboot", 8000, ""},
};

QList<RpcMethodInfo> buildTable()
{
    QList<RpcMethodInfo> table;
    for (const Row &row : Rows)
        table.append(RpcMethodInfo{QString::fromLatin1(row.name), row.timeoutMs,
                                   QString::fromLatin1(row.params).split(QLatin1Char(' '), Qt::SkipEmptyParts)});
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

QStringList rpcParamOrder(const QString &method)
{
    const RpcMethodInfo *info = rpcMethodInfo(method);
    return info ? info->paramOrder : QStringList();
}

QByteArray rpcParamsJson(const QString &method, const QJsonObject &params)
{
    return OrderedJson(params, rpcParamOrder(method)).toJson();
}

} // namespace corvane
