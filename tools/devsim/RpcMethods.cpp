#include "DeviceState.h"
#include "RpcMethods.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimer>

namespace corvane::devsim {

namespace {

using Reply = RpcMethods::Reply;

Reply invalid(const QString &message)
{
    return Reply::failure(QStringLiteral("invalid_params"), message);
}

QString text(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

// The controllers this firmware reads, as it lists them: some combinations more than once,
// as the firmware's table has them under two input groups.
QJsonArray controllerList()
{
    const char *const rows[][4] = {
        {"daktronics", "5000", "basketball", "rs232"},
        {"daktronics", "5000", "basketball", "cl"},
        {"daktronics", "5000", "hockey", "rs232"},
        {"daktronics", "5000", "basketball", "rs232"},
        {"oes", "ISC9000", "basketball", "wireless"},
        {"oes", "ISC9000", "volleyball", "rs485"},
        {"varsity", "Gen2", "football", "rs232"},
        {"varsity", "Gen2", "football", "wireless"},
        {"nevco", "MPC7-W", "baseball", "nevco"},
        {"electromech", "LX", "football", "cl"},
        {"oes", "ISC9000", "basketball", "wireless"},
        {"allamerican", "8000", "basketball", "wireless"},
        {"corvane", "Wireless Bridge", "basketball", "channel_1"},
    };
    QJsonArray list;
    for (const auto &row : rows) {
        list.append(QJsonObject{
            {QStringLiteral("manufacturer"), QLatin1String(row[0])},
            {QStringLiteral("model"), QLatin1String(row[1])},
            {QStringLiteral("sport"), QLatin1String(row[2])},
            {QStringLiteral("input_type"), QLatin1String(row[3])},
        });
    }
    return list;
}

// What the radio hears: one name twice (two access points), a hidden network, and "auth"
// as the firmware's enum number or as text, depending on the scan path. Each later scan
// hears every network one dBm weaker, as signal strengths drift between real scans.
QJsonArray scannedNetworks(int round)
{
    const auto net = [round](const char *ssid, int rssi, const QJsonValue &auth) {
        return QJsonObject{{QStringLiteral("ssid"), QLatin1String(ssid)}, {QStringLiteral("rssi"), rssi - round}, {QStringLiteral("auth"), auth}};
    };
    return QJsonArray{
        net("Arena-Staff", -67, 3),
        net("Arena-Guest", -52, 0),
        net("Arena-Staff", -49, 3),
        net("", -71, 3),
        net("PressBox-revert", -58, QStringLiteral("wpa2_psk")),
        net("Concourse-never", -75, 4),
        net("Scoreboard", -80, QStringLiteral("wpa2_wpa3_psk")),
    };
}

// Integer settings and their accepted ranges; the booleans are listed apart.
struct IntSetting {
    const char *key;
    int min;
    int max;
};
constexpr IntSetting IntSettings[] = {
    {"wireless_group", 0, 255},
    {"wireless_channel", 0, 79},
    {"xbee_channel", 0, 255},
    {"xbee_pan_id", 0, 65535},
    {"wireless_output_network_id", 1, 20},
    {"wireless_output_channel", 1, 10},
    {"ethernet_bridge_port", 1, 65535},
    {"usb_tunnel_port", 1, 65535},
};
constexpr const char *BoolSettings[] = {
    "http_endpoint_enabled", "tcp_feed_enabled", "test_cloud_data_enabled", "mqtt_config_enabled",
    "wireless_auto_scan", "wireless_output_enabled", "ethernet_bridge_output_enabled", "usb_tunnel_enabled",
};
constexpr const char *ControllerKeys[] = {"manufacturer", "model", "sport", "input_type"};

// Firmware and wireless-chip updates: a download (or transfer) phase, an apply phase, then
// the device restarts into the new image.
struct UpdateTiming {
    int transferMs;
    int applyMs;
    const char *transferState;
    int unknownSizeMs; // the first part of the transfer, before the server has told the size
};
constexpr UpdateTiming OtaTiming{3000, 1000, "downloading", 500};
constexpr UpdateTiming C6Timing{2500, 0, "sending", 0};

struct UpdateProgress {
    qint64 bytes = 0;
    qint64 total = 0; // 0 until the size is known
};

UpdateProgress advanceUpdate(DeviceState &state, DeviceState::Update &update, const UpdateTiming &timing, const QString &what)
{
    if (update.state == QLatin1String("idle") || update.state == QLatin1String("failed") || !update.since.isValid())
        return update.state == QLatin1String("idle") ? UpdateProgress{} : UpdateProgress{update.totalBytes, update.totalBytes};
    const qint64 elapsed = update.since.elapsed();
    const qint64 sized = elapsed - timing.unknownSizeMs;
    const UpdateProgress progress{
        sized < 0 ? 0 : qMin(update.totalBytes, update.totalBytes * sized / qMax(1, timing.transferMs - timing.unknownSizeMs)),
        sized < 0 ? 0 : update.totalBytes,
    };
    if (elapsed >= timing.transferMs + timing.applyMs) {
        if (update.state != QLatin1String("rebooting")) {
            update.state = QStringLiteral("rebooting");
            state.scheduleRestart(what);
        }
    } else if (elapsed >= timing.transferMs) {
        update.state = QStringLiteral("applying");
    }
    return progress;
}

} // namespace

RpcMethods::RpcMethods(DeviceState *state)
    : m_state(state)
{
    addDiagnostics();
    addAccount();
    addNetwork();
    addScoreboard();
    addUpdates();
    addMaintenance();
}

void RpcMethods::add(const QString &method, Access access, Handler handler)
{
    m_handlers.insert(method, Entry{access, std::move(handler)});
}

void RpcMethods::answerLater(int delayMs, ReplyCallback reply, const Reply &value)
{
    const int boot = m_state->boots;
    QTimer::singleShot(delayMs, m_state, [this, boot, reply = std::move(reply), value] {
        if (m_state->boots == boot && !m_state->restarting())
            reply(value);
    });
}

void RpcMethods::handle(const QString &method, const QJsonObject &params, AdminSession &session, ReplyCallback reply)
{
    if (m_state->restarting())
        return;
    const DeviceState::Options &options = m_state->options();
    if (options.receiver) {
        // Everything goes over the air to the paired device and back.
        if (options.pairedSilent)
            return;
        reply = [this, delay = options.relayDelayMs, out = std::move(reply)](const Reply &value) {
            answerLater(delay, out, value);
        };
    }
    const auto it = m_handlers.constFind(method);
    if (it == m_handlers.cend()) {
        reply(Reply::failure(QStringLiteral("unknown_method"), QStringLiteral("Unknown method '%1'").arg(method)));
        return;
    }
    const bool signedIn = session.epoch != 0 && session.epoch == m_state->sessionEpoch();
    if (it->access != Access::Open && !signedIn) {
        reply(Reply::failure(QStringLiteral("unauthorized"), QStringLiteral("Sign in first.")));
        return;
    }
    if (it->access == Access::Configured && m_state->mustChangePassword) {
        reply(Reply::failure(QStringLiteral("password_change_required"),
                             QStringLiteral("Change the factory password before anything else.")));
        return;
    }
    Call call{params, &session, false, reply};
    const Reply now = it->handler(call);
    call.session = nullptr;
    if (!call.deferred)
        reply(now);
}

void RpcMethods::handleEnvelope(const QByteArray &request, AdminSession &session, std::function<void(const QByteArray &)> reply,
                                QString *method)
{
    const QJsonObject envelope = QJsonDocument::fromJson(request).object();
    if (!envelope.contains(QLatin1String("id")))
        return;
    const QString name = envelope.value(QLatin1String("method")).toString();
    if (method)
        *method = name;
    const QJsonValue id = envelope.value(QLatin1String("id"));
    handle(name, envelope.value(QLatin1String("params")).toObject(), session,
           [id, reply = std::move(reply)](const Reply &value) { reply(encodeReply(id, value)); });
}

QByteArray RpcMethods::encodeReply(const QJsonValue &id, const Reply &reply)
{
    QJsonObject out{{QStringLiteral("id"), id}, {QStringLiteral("ok"), reply.ok}};
    if (reply.ok) {
        out.insert(QStringLiteral("result"), reply.result);
    } else {
        QJsonObject error;
        if (!reply.code.isEmpty())
            error.insert(QStringLiteral("code"), reply.code);
        if (!reply.message.isEmpty())
            error.insert(QStringLiteral("message"), reply.message);
        if (!error.isEmpty())
            out.insert(QStringLiteral("error"), error);
    }
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

void RpcMethods::addDiagnostics()
{
    // Echoes its parameters: a large request comes back as a large reply.
    add(QStringLiteral("echo"), Access::Open, [](Call &call) { return Reply::success(call.params); });

    // {"size": n}: a result carrying n bytes of text, fragmented on the line above 2048 bytes.
    add(QStringLiteral("bigResult"), Access::Open, [](Call &call) {
        const int size = qBound(0, call.params.value(QLatin1String("size")).toInt(10000), 60000);
        QString blob(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            blob[i] = QLatin1Char(char('a' + i % 26));
        return Reply::success(QJsonObject{{QStringLiteral("size"), size}, {QStringLiteral("blob"), blob}});
    });

    // {"times": n, "key": k}: "busy" for the first n calls with that key, then success with
    // the number of attempts, as a device does while it finishes other work.
    add(QStringLiteral("busyFor"), Access::Open, [this](Call &call) {
        const QString key = text(call.params, "key");
        const int times = call.params.value(QLatin1String("times")).toInt(1);
        auto it = m_busyLeft.find(key);
        if (it == m_busyLeft.end())
            it = m_busyLeft.insert(key, times);
        if (*it > 0) {
            --*it;
            return Reply::failure(QStringLiteral("busy"), QStringLiteral("The device is busy"));
        }
        m_busyLeft.erase(it);
        return Reply::success(QJsonObject{{QStringLiteral("attempts"), times + 1}});
    });

    // A refusal without details, which the client words itself.
    add(QStringLiteral("refuse"), Access::Open, [](Call &) { return Reply::failure(QString(), QString()); });
}

void RpcMethods::addAccount()
{
    DeviceState *s = m_state;

    add(QStringLiteral("login"), Access::Open, [s](Call &call) {
        const int lockoutMs = s->options().lockoutMs;
        if (s->lockedSince.isValid() && s->lockedSince.elapsed() < lockoutMs) {
            const qint64 left = (lockoutMs - s->lockedSince.elapsed() + 999) / 1000;
            return Reply::failure(QStringLiteral("rate_limited"),
                                  QStringLiteral("Too many wrong passwords. Try again in %1 seconds.").arg(left));
        }
        s->lockedSince.invalidate();
        if (text(call.params, "password") != s->password) {
            ++s->failedLogins;
            s->log(QStringLiteral("login: wrong password (%1 in a row)").arg(s->failedLogins));
            if (s->failedLogins >= s->options().maxFailures) {
                s->failedLogins = 0;
                s->lockedSince.start();
                return Reply::failure(QStringLiteral("rate_limited"),
                                      QStringLiteral("Too many wrong passwords. Try again in %1 seconds.").arg((lockoutMs + 999) / 1000));
            }
            return Reply::failure(QStringLiteral("invalid_credentials"), QStringLiteral("Wrong password."));
        }
        s->failedLogins = 0;
        call.session->epoch = s->sessionEpoch();
        s->log(QStringLiteral("login: ok"));
        return Reply::success(QJsonObject{{QStringLiteral("must_change_password"), s->mustChangePassword}});
    });

    add(QStringLiteral("logout"), Access::SignedIn, [](Call &call) {
        call.session->epoch = 0;
        return Reply::success();
    });

    add(QStringLiteral("getStatus"), Access::SignedIn, [s](Call &) {
        // A join in progress moves on each time someone looks, as the firmware's
        // provisioning task reports between attempts.
        DeviceState::Join &join = s->join;
        if (join.state == QLatin1String("connecting")) {
            ++join.checks;
            const QString ssid = join.ssid.toLower();
            if (!ssid.contains(QLatin1String("never")) && join.checks >= s->options().joinChecks) {
                if (ssid.contains(QLatin1String("revert")) || (!join.pass.isEmpty() && join.pass.size() < 8)) {
                    join.state = QStringLiteral("reverted");
                    join.detail = QStringLiteral("authentication failed (wrong password?)");
                    s->log(QStringLiteral("wifi: could not join %1, back to the previous network").arg(join.ssid));
                } else {
                    join.state = QStringLiteral("ok");
                    s->wifiSsid = join.ssid;
                    s->wifiPass = join.pass;
                    s->wifiStaIp = QStringLiteral("192.168.1.%1").arg(50 + s->random().bounded(150));
                    s->log(QStringLiteral("wifi: joined %1 as %2").arg(join.ssid, s->wifiStaIp));
                    s->save();
                }
            }
        }
        return Reply::success(s->status());
    });

    add(QStringLiteral("getState"), Access::SignedIn,
        [s](Call &) { return Reply::success(s->game().message(QDateTime::currentMSecsSinceEpoch())); });

    add(QStringLiteral("changePassword"), Access::SignedIn, [s](Call &call) {
        const QString current = text(call.params, "current_password");
        const QString next = text(call.params, "new_password");
        if (current != s->password)
            return Reply::failure(QStringLiteral("invalid_credentials"), QStringLiteral("The current password is wrong."));
        if (next != text(call.params, "confirm_password"))
            return Reply::failure(QStringLiteral("mismatch"), QStringLiteral("The new passwords do not match."));
        if (next.size() < 8)
            return Reply::failure(QStringLiteral("weak_password"), QStringLiteral("The new password must have at least 8 characters."));
        if (next == QLatin1String(DeviceState::FactoryPassword))
            return Reply::failure(QStringLiteral("weak_password"), QStringLiteral("Choose a password other than the factory password."));
        s->password = next;
        s->mustChangePassword = false;
        s->log(QStringLiteral("admin password changed"));
        s->save();
        return Reply::success();
    });

    add(QStringLiteral("ensureApiToken"), Access::Configured, [s](Call &call) {
        if (s->apiToken.isEmpty() || call.params.value(QLatin1String("force_new")).toBool()) {
            s->apiToken = s->randomHex(40);
            s->log(QStringLiteral("api token made"));
            s->save();
        }
        return Reply::success(QJsonObject{{QStringLiteral("token"), s->apiToken}});
    });

    add(QStringLiteral("blePasskey"), Access::Configured,
        [s](Call &) { return Reply::success(QJsonObject{{QStringLiteral("passkey"), s->blePasskey}}); });

    add(QStringLiteral("resetLocalPassword"), Access::Configured, [s](Call &call) {
        if (!call.params.value(QLatin1String("confirm")).toBool())
            return Reply::failure(QStringLiteral("confirm_required"), QStringLiteral("Confirm the password reset."));
        s->password = QLatin1String(DeviceState::FactoryPassword);
        s->mustChangePassword = true;
        s->log(QStringLiteral("admin password reset to the factory password"));
        s->save();
        s->dropSessions();
        return Reply::success();
    });
}

void RpcMethods::addNetwork()
{
    DeviceState *s = m_state;

    add(QStringLiteral("scanWifi"), Access::Configured, [this, s](Call &call) {
        // The radio is the transmitter's while it sends to a receiver: nothing to hear.
        const QJsonArray networks = s->espnowRole == QLatin1String("tx") ? QJsonArray() : scannedNetworks(m_wifiScans++);
        call.deferred = true;
        answerLater(s->options().scanMs, call.later, Reply::success(QJsonObject{{QStringLiteral("networks"), networks}}));
        return Reply::success();
    });

    add(QStringLiteral("configureWifi"), Access::Configured, [s](Call &call) {
        const QString ssid = text(call.params, "ssid");
        if (ssid.trimmed().isEmpty())
            return invalid(QStringLiteral("Give the network name."));
        if (s->espnowRole == QLatin1String("tx"))
            return Reply::failure(QStringLiteral("wifi_off"), QStringLiteral("Wi-Fi is off while the wireless transmitter is on."));
        s->join = DeviceState::Join{QStringLiteral("connecting"), ssid, text(call.params, "pass"), QString(), 0, {}};
        s->join.since.start();
        s->log(QStringLiteral("wifi: joining %1").arg(ssid));
        return Reply::success();
    });

    add(QStringLiteral("getEspNow"), Access::Configured, [s](Call &) {
        const bool tx = s->espnowRole == QLatin1String("tx");
        QString startError;
        if (tx && s->peerMac.isEmpty())
            startError = QStringLiteral("no receiver address");
        else if (tx && s->espnowKey.isEmpty())
            startError = QStringLiteral("no pairing key");
        QJsonObject espnow{
            {QStringLiteral("role"), s->espnowRole},
            {QStringLiteral("configured_role"), s->espnowConfiguredRole},
            {QStringLiteral("peer_mac"), s->peerMac},
            {QStringLiteral("key_set"), !s->espnowKey.isEmpty()},
            {QStringLiteral("start_error"), startError},
        };
        return Reply::success(QJsonObject{{QStringLiteral("espnow"), espnow}});
    });

    add(QStringLiteral("setEspNow"), Access::Configured, [s](Call &call) {
        const QString role = text(call.params, "role");
        if (role == QLatin1String("off")) {
            s->espnowConfiguredRole = role;
            s->log(QStringLiteral("espnow: off after restart"));
            s->save();
            return Reply::success(QJsonObject{{QStringLiteral("key"), QString()}});
        }
        if (role != QLatin1String("tx"))
            return invalid(QStringLiteral("The role must be \"tx\" or \"off\"."));
        static const QRegularExpression mac(QStringLiteral("^([0-9a-f]{2}:){5}[0-9a-f]{2}$"));
        const QString peer = text(call.params, "peer_mac").toLower();
        if (call.params.contains(QLatin1String("peer_mac")) && !mac.match(peer).hasMatch())
            return invalid(QStringLiteral("The receiver address must look like aa:bb:cc:dd:ee:ff."));
        QString generated;
        if (call.params.value(QLatin1String("generate_key")).toBool()) {
            generated = s->randomHex(32);
            s->espnowKey = generated;
        } else if (call.params.contains(QLatin1String("key"))) {
            const QString key = text(call.params, "key");
            if (key.size() < 8)
                return invalid(QStringLiteral("The key must have at least 8 characters."));
            s->espnowKey = key;
        }
        if (!peer.isEmpty())
            s->peerMac = peer;
        s->espnowConfiguredRole = role;
        s->log(QStringLiteral("espnow: transmitter to %1 after restart").arg(s->peerMac));
        s->save();
        return Reply::success(QJsonObject{{QStringLiteral("key"), generated}});
    });

    add(QStringLiteral("networkTest"), Access::Configured, [s](Call &) {
        // A test runs over several polls, its checks finishing one after another; the poll
        // after the last result starts a new one. Everything past the local network needs it.
        const int step = ++s->networkTestCalls;
        const int polls = s->options().netTestPolls;
        const bool lan = !s->wifiStaIp.isEmpty();
        const bool cloud = lan && s->mqttConfigured;
        struct Check {
            const char *name;
            bool good;
            QString okDetail;
            QString failDetail;
        };
        const Check checks[] = {
            {"local_network", lan, QStringLiteral("Wi-Fi %1, %2").arg(s->wifiSsid, s->wifiStaIp), QStringLiteral("not connected")},
            {"dns", lan, QStringLiteral("resolved in 18 ms"), QStringLiteral("no network")},
            {"mqtt", cloud, QStringLiteral("port 8883 answered"), QStringLiteral("not reachable")},
            {"websocket_https", cloud, QStringLiteral("port 443 answered"), QStringLiteral("not reachable")},
            {"firewall", lan, QString(), QStringLiteral("no network")},
            {"end_to_end", cloud, QStringLiteral("round trip 140 ms"), QStringLiteral("no answer from the cloud")},
        };
        QJsonObject results;
        const int count = int(std::size(checks));
        for (int i = 0; i < count; ++i) {
            // Check i is ready at the poll that covers its share of the test.
            const bool ready = step * count >= (i + 1) * polls;
            const Check &check = checks[i];
            results.insert(QLatin1String(check.name),
                           QJsonObject{{QStringLiteral("status"), !ready ? QStringLiteral("running") : check.good ? QStringLiteral("ok") : QStringLiteral("fail")},
                                       {QStringLiteral("detail"), !ready ? QString() : check.good ? check.okDetail : check.failDetail}});
        }
        const bool done = step >= polls;
        if (done)
            s->networkTestCalls = 0;
        const QString overall = !done ? QStringLiteral("running") : (cloud ? QStringLiteral("ok") : QStringLiteral("fail"));
        return Reply::success(QJsonObject{{QStringLiteral("checks"), results}, {QStringLiteral("done"), done}, {QStringLiteral("overall"), overall}});
    });

    add(QStringLiteral("clearMqttConfig"), Access::Configured, [s](Call &) {
        s->mqttConfigured = false;
        s->log(QStringLiteral("cloud settings cleared"));
        s->save();
        return Reply::success();
    });
}

void RpcMethods::addScoreboard()
{
    DeviceState *s = m_state;

    add(QStringLiteral("getControllerList"), Access::Configured,
        [](Call &) { return Reply::success(QJsonObject{{QStringLiteral("controllers"), controllerList()}}); });

    add(QStringLiteral("getControllerConfig"), Access::Configured, [s](Call &) { return Reply::success(s->controller); });

    const auto setController = [s](const QJsonObject &params) {
        QJsonObject wanted;
        for (const char *key : ControllerKeys)
            wanted.insert(QLatin1String(key), text(params, key));
        if (!controllerList().contains(wanted))
            return invalid(QStringLiteral("This device cannot read that controller."));
        s->controller = wanted;
        s->log(QStringLiteral("controller: %1 %2 %3 %4")
                   .arg(text(wanted, "manufacturer"), text(wanted, "model"), text(wanted, "sport"), text(wanted, "input_type")));
        return Reply::success();
    };

    add(QStringLiteral("setControllerConfig"), Access::Configured, [s, setController](Call &call) {
        const Reply reply = setController(call.params);
        s->save();
        return reply;
    });

    add(QStringLiteral("getSettings"), Access::Configured, [s](Call &) {
        QJsonObject out = s->settings;
        for (auto it = s->controller.constBegin(); it != s->controller.constEnd(); ++it)
            out.insert(it.key(), it.value());
        return Reply::success(out);
    });

    add(QStringLiteral("setSettings"), Access::Configured, [s, setController](Call &call) {
        QJsonObject next = s->settings;
        for (const IntSetting &setting : IntSettings) {
            const QJsonValue value = call.params.value(QLatin1String(setting.key));
            if (value.isUndefined())
                continue;
            const int number = value.toInt(-1);
            if (!value.isDouble() || number < setting.min || number > setting.max)
                return invalid(QStringLiteral("\"%1\" must be a number from %2 to %3.")
                                   .arg(QLatin1String(setting.key)).arg(setting.min).arg(setting.max));
            next.insert(QLatin1String(setting.key), number);
        }
        for (const char *key : BoolSettings) {
            const QJsonValue value = call.params.value(QLatin1String(key));
            if (value.isUndefined())
                continue;
            if (!value.isBool())
                return invalid(QStringLiteral("\"%1\" must be true or false.").arg(QLatin1String(key)));
            next.insert(QLatin1String(key), value);
        }
        if (call.params.contains(QLatin1String("ethernet_bridge_peer_host")))
            next.insert(QStringLiteral("ethernet_bridge_peer_host"), text(call.params, "ethernet_bridge_peer_host").trimmed());
        if (call.params.contains(QLatin1String("manufacturer"))) {
            const Reply controller = setController(call.params);
            if (!controller.ok)
                return controller;
        }
        s->settings = next;
        s->log(QStringLiteral("settings saved"));
        s->save();
        return Reply::success();
    });
}

void RpcMethods::addUpdates()
{
    DeviceState *s = m_state;

    add(QStringLiteral("otaCheck"), Access::Configured, [s](Call &) {
        return Reply::success(QJsonObject{
            {QStringLiteral("current_version"), s->firmwareVersion},
            {QStringLiteral("update_available"), s->firmwareVersion != s->availableVersion},
            {QStringLiteral("version"), s->availableVersion},
            {QStringLiteral("error"), QString()},
        });
    });

    add(QStringLiteral("otaApply"), Access::Configured, [s](Call &) {
        if (s->firmwareVersion == s->availableVersion)
            return Reply::failure(QStringLiteral("no_update"), QStringLiteral("The firmware is already up to date."));
        if (s->ota.state != QLatin1String("idle") && s->ota.state != QLatin1String("failed"))
            return Reply::failure(QStringLiteral("update_in_progress"), QStringLiteral("An update is already running."));
        s->ota.state = QLatin1String(OtaTiming.transferState);
        s->ota.totalBytes = 1048576;
        s->ota.error.clear();
        s->ota.targetVersion = s->availableVersion;
        s->ota.since.start();
        s->log(QStringLiteral("ota: downloading %1").arg(s->availableVersion));
        return Reply::success();
    });

    add(QStringLiteral("otaProgress"), Access::Configured, [s](Call &) {
        const UpdateProgress progress = advanceUpdate(*s, s->ota, OtaTiming, QStringLiteral("firmware update"));
        return Reply::success(QJsonObject{
            {QStringLiteral("state"), s->ota.state},
            {QStringLiteral("total_bytes"), double(progress.total)},
            {QStringLiteral("bytes_read"), double(progress.bytes)},
            {QStringLiteral("error"), s->ota.error},
        });
    });

    add(QStringLiteral("c6OtaStatus"), Access::Configured, [s](Call &) {
        const UpdateProgress progress = advanceUpdate(*s, s->c6, C6Timing, QStringLiteral("wireless chip update"));
        return Reply::success(QJsonObject{
            {QStringLiteral("state"), s->c6.state},
            {QStringLiteral("total_bytes"), double(progress.total)},
            {QStringLiteral("bytes_sent"), double(progress.bytes)},
            {QStringLiteral("error"), s->c6.error},
            {QStringLiteral("c6_running_version"), s->c6Version},
            {QStringLiteral("running_version"), s->firmwareVersion},
        });
    });

    add(QStringLiteral("c6OtaApply"), Access::Configured, [s](Call &call) {
        if (text(call.params, "source") != QLatin1String("partition"))
            return invalid(QStringLiteral("Only the \"partition\" source is supported."));
        const bool running = s->c6.state != QLatin1String("idle") && s->c6.state != QLatin1String("failed");
        if (running && !call.params.value(QLatin1String("force")).toBool())
            return Reply::failure(QStringLiteral("update_in_progress"), QStringLiteral("An update is already running."));
        s->c6.state = QLatin1String(C6Timing.transferState);
        s->c6.totalBytes = 655360;
        s->c6.error.clear();
        s->c6.targetVersion = QStringLiteral("c6-2.1.0-sim");
        s->c6.since.start();
        s->log(QStringLiteral("c6: sending the image"));
        return Reply::success();
    });
}

void RpcMethods::addMaintenance()
{
    DeviceState *s = m_state;

    add(QStringLiteral("getLogs"), Access::Configured,
        [s](Call &) { return Reply::success(QJsonObject{{QStringLiteral("logs"), s->logs.join(QLatin1Char('\n'))}}); });

    add(QStringLiteral("setDeviceId"), Access::Configured, [s](Call &call) {
        static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9-]{2,31}$"));
        const QString id = text(call.params, "device_id").trimmed();
        if (!pattern.match(id).hasMatch())
            return invalid(QStringLiteral("A device id has 3 to 32 letters, digits or dashes."));
        s->deviceId = id;
        s->log(QStringLiteral("device id set to %1").arg(id));
        s->save();
        return Reply::success();
    });

    add(QStringLiteral("factoryReset"), Access::Configured, [s](Call &call) {
        if (!call.params.value(QLatin1String("confirm")).toBool())
            return Reply::failure(QStringLiteral("confirm_required"), QStringLiteral("Confirm the factory reset."));
        s->resetToFactory();
        s->scheduleRestart(QStringLiteral("factory reset"));
        return Reply::success();
    });

    add(QStringLiteral("reboot"), Access::SignedIn, [s](Call &) {
        s->scheduleRestart(QStringLiteral("reboot requested"));
        return Reply::success();
    });
}

} // namespace corvane::devsim
