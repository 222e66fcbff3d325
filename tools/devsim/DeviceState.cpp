#include "DeviceState.h"
#include "base/AtomicFile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QTimer>

namespace corvane::devsim {

namespace {

// Long enough for the answer that asked for the restart to leave the device first.
constexpr int GoingDownDelayMs = 150;

QJsonObject defaultSettings()
{
    return QJsonObject{
        {QStringLiteral("http_endpoint_enabled"), true},
        {QStringLiteral("tcp_feed_enabled"), true},
        {QStringLiteral("test_cloud_data_enabled"), false},
        {QStringLiteral("mqtt_config_enabled"), true},
        {QStringLiteral("wireless_auto_scan"), true},
        {QStringLiteral("wireless_group"), 0},
        {QStringLiteral("wireless_channel"), 0},
        {QStringLiteral("xbee_channel"), 255},
        {QStringLiteral("xbee_pan_id"), 65535},
        {QStringLiteral("wireless_output_enabled"), false},
        {QStringLiteral("wireless_output_network_id"), 1},
        {QStringLiteral("wireless_output_channel"), 1},
        {QStringLiteral("ethernet_bridge_output_enabled"), false},
        {QStringLiteral("ethernet_bridge_peer_host"), QString()},
        // "ethernet_bridge_port" and "usb_tunnel_port" are left out, as the firmware does
        // until they are set; readers fall back to 1011 and 18883.
        {QStringLiteral("usb_tunnel_enabled"), false},
    };
}

} // namespace

DeviceState::DeviceState(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_game(options.sport)
    , m_random(11)
{
    m_uptime.start();
    applyFactoryDefaults();
    // A device out of the box reaches the cloud once it is online; one with a password set
    // has been set up before.
    mqttConfigured = true;
    if (!options.password.isEmpty()) {
        password = options.password;
        mustChangePassword = false;
    }
    if (!options.wifiSsid.isEmpty()) {
        wifiSsid = options.wifiSsid;
        wifiStaIp = QStringLiteral("192.168.1.57");
    }
    if (!options.pairedReceiver.isEmpty()) {
        peerMac = options.pairedReceiver.toLower();
        espnowKey = randomHex(32);
    }
    blePasskey = QStringLiteral("%1").arg(m_random.bounded(1000000), 6, 10, QLatin1Char('0'));
    load();
    log(QStringLiteral("boot: firmware %1").arg(firmwareVersion));
}

void DeviceState::resetToFactory()
{
    applyFactoryDefaults();
    mqttConfigured = false;
    dropSessions();
    log(QStringLiteral("factory reset"));
    save();
}

void DeviceState::applyFactoryDefaults()
{
    password = QLatin1String(FactoryPassword);
    mustChangePassword = true;
    failedLogins = 0;
    lockedSince.invalidate();
    wifiSsid.clear();
    wifiPass.clear();
    wifiStaIp.clear();
    join = Join{};
    espnowConfiguredRole = QStringLiteral("off");
    peerMac.clear();
    espnowKey.clear();
    controller = QJsonObject{
        {QStringLiteral("manufacturer"), QStringLiteral("daktronics")},
        {QStringLiteral("model"), QStringLiteral("5000")},
        {QStringLiteral("sport"), QStringLiteral("basketball")},
        {QStringLiteral("input_type"), QStringLiteral("rs232")},
    };
    settings = defaultSettings();
    apiToken.clear();
}

QString DeviceState::randomHex(int digits)
{
    QString text;
    for (int i = 0; i < digits; ++i)
        text += QLatin1Char("0123456789abcdef"[m_random.bounded(16)]);
    return text;
}

void DeviceState::log(const QString &line)
{
    logs << QStringLiteral("[%1] %2").arg(m_uptime.elapsed() / 1000, 6).arg(line);
    while (logs.size() > 200)
        logs.removeFirst();
}

void DeviceState::scheduleRestart(const QString &why)
{
    if (m_restarting)
        return;
    m_restarting = true;
    log(QStringLiteral("restart: %1").arg(why));
    save();
    QTimer::singleShot(GoingDownDelayMs, this, [this] {
        dropSessions();
        Q_EMIT wentDown();
        QTimer::singleShot(m_options.restartMs, this, [this] {
            applyAfterRestart();
            m_restarting = false;
            ++boots;
            m_uptime.restart();
            log(QStringLiteral("boot: firmware %1").arg(firmwareVersion));
            Q_EMIT cameUp();
        });
    });
}

void DeviceState::applyAfterRestart()
{
    // Radio roles and firmware images take effect at boot.
    espnowRole = espnowConfiguredRole;
    if (espnowRole == QLatin1String("tx")) {
        wifiStaIp.clear();
        join = Join{};
    }
    if (ota.state == QLatin1String("rebooting")) {
        firmwareVersion = ota.targetVersion;
        ota = Update{};
    }
    if (c6.state == QLatin1String("rebooting")) {
        c6Version = c6.targetVersion;
        c6 = Update{};
    }
    networkTestCalls = 0;
    save();
}

QJsonObject DeviceState::status()
{
    QJsonObject provision;
    if (!join.state.isEmpty()) {
        provision = QJsonObject{
            {QStringLiteral("state"), join.state},
            {QStringLiteral("detail"), join.detail},
            {QStringLiteral("elapsed_ms"), double(join.since.isValid() ? join.since.elapsed() : 0)},
        };
    }
    const bool wifiUp = !wifiStaIp.isEmpty();
    QJsonObject out{
        {QStringLiteral("device_id"), deviceId},
        {QStringLiteral("model"), model},
        {QStringLiteral("firmware_version"), firmwareVersion},
        {QStringLiteral("fw_version"), firmwareVersion},
        {QStringLiteral("c6_version"), c6Version},
        {QStringLiteral("uptime_s"), double(m_uptime.elapsed() / 1000)},
        {QStringLiteral("sport"), m_game.sport()},
        {QStringLiteral("wifi_sta_ssid"), wifiUp ? wifiSsid : QString()},
        {QStringLiteral("wifi_sta_ip"), wifiStaIp},
        {QStringLiteral("eth_ip"), QString()},
        {QStringLiteral("mqtt_connected"), mqttConfigured && wifiUp},
        {QStringLiteral("mqtt_transport"), mqttConfigured ? (wifiUp ? QStringLiteral("wifi") : QStringLiteral("none")) : QString()},
        {QStringLiteral("wifi_provision"), provision},
        {QStringLiteral("tls_fingerprint"), tlsFingerprint},
        {QStringLiteral("api_token_configured"), !apiToken.isEmpty()},
        {QStringLiteral("espnow_role"), espnowRole},
        {QStringLiteral("wifi"), QJsonObject{{QStringLiteral("connected"), wifiUp}}},
    };
    for (auto it = m_extraStatus.constBegin(); it != m_extraStatus.constEnd(); ++it)
        out.insert(it.key(), it.value());
    return out;
}

QJsonObject DeviceState::persistent() const
{
    return QJsonObject{
        {QStringLiteral("device_id"), deviceId},
        {QStringLiteral("firmware_version"), firmwareVersion},
        {QStringLiteral("c6_version"), c6Version},
        {QStringLiteral("password"), password},
        {QStringLiteral("must_change_password"), mustChangePassword},
        {QStringLiteral("wifi_ssid"), wifiSsid},
        {QStringLiteral("wifi_pass"), wifiPass},
        {QStringLiteral("wifi_sta_ip"), wifiStaIp},
        {QStringLiteral("espnow_role"), espnowConfiguredRole},
        {QStringLiteral("peer_mac"), peerMac},
        {QStringLiteral("espnow_key"), espnowKey},
        {QStringLiteral("controller"), controller},
        {QStringLiteral("settings"), settings},
        {QStringLiteral("api_token"), apiToken},
        {QStringLiteral("mqtt_configured"), mqttConfigured},
    };
}

void DeviceState::save() const
{
    if (m_options.statePath.isEmpty())
        return;
    saveFileAtomically(m_options.statePath, QJsonDocument(persistent()).toJson(QJsonDocument::Indented));
}

void DeviceState::load()
{
    if (m_options.statePath.isEmpty())
        return;
    QFile file(m_options.statePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
    const auto text = [&saved](const char *key, const QString &fallback) {
        return saved.value(QLatin1String(key)).toString(fallback);
    };
    deviceId = text("device_id", deviceId);
    firmwareVersion = text("firmware_version", firmwareVersion);
    c6Version = text("c6_version", c6Version);
    password = text("password", password);
    mustChangePassword = saved.value(QLatin1String("must_change_password")).toBool(mustChangePassword);
    wifiSsid = text("wifi_ssid", wifiSsid);
    wifiPass = text("wifi_pass", wifiPass);
    wifiStaIp = text("wifi_sta_ip", wifiStaIp);
    espnowConfiguredRole = text("espnow_role", espnowConfiguredRole);
    espnowRole = espnowConfiguredRole;
    peerMac = text("peer_mac", peerMac);
    espnowKey = text("espnow_key", espnowKey);
    if (saved.value(QLatin1String("controller")).isObject())
        controller = saved.value(QLatin1String("controller")).toObject();
    const QJsonObject savedSettings = saved.value(QLatin1String("settings")).toObject();
    for (auto it = savedSettings.constBegin(); it != savedSettings.constEnd(); ++it)
        settings.insert(it.key(), it.value());
    apiToken = text("api_token", apiToken);
    mqttConfigured = saved.value(QLatin1String("mqtt_configured")).toBool(mqttConfigured);
}

} // namespace corvane::devsim
