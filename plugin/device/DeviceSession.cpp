#include "device/DeviceSession.h"

#include "base/Log.h"
#include "device/DeviceLink.h"
#include "device/rpc/RpcClient.h"
#include "device/rpc/RpcCode.h"
#include "device/rpc/RpcMethodTable.h"
#include "device/settings/WifiProvision.h"

#include <QMetaEnum>
#include <QSet>

#include <utility>

namespace corvane {

namespace {

// Login refusals that mean "this password is wrong": the next candidate is tried.
bool isWrongPassword(const QString &code)
{
    static const QSet<QString> codes{RpcCode::Unauthorized, RpcCode::InvalidCredentials, RpcCode::Forbidden,
                                     RpcCode::BadPassword};
    return codes.contains(code);
}

} // namespace

struct DeviceSession::WifiCheck {
    QTimer *timer = nullptr; // child of the session
    DoneCallback done;
};

DeviceSession::DeviceSession(DeviceLink *link, QObject *parent)
    : QObject(parent)
    , m_link(link)
{
    m_link->setParent(this);
    m_rpc = new RpcClient(m_link->rpcTransport(), this);
    connect(m_link, &DeviceLink::opened, this, &DeviceSession::onLinkOpened);
    connect(m_link, &DeviceLink::closed, this, &DeviceSession::onLinkClosed);
    connect(m_link, &DeviceLink::envelope, this, &DeviceSession::envelope);
    connect(m_link, &DeviceLink::failed, this, &DeviceSession::onLinkFailed);
    m_pollTimer.setInterval(m_timing.pollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &DeviceSession::pollOnce);
}

DeviceSession::~DeviceSession()
{
    close();
}

QString DeviceSession::receiverTimeoutText()
{
    return QStringLiteral("The paired device did not answer through the receiver. Check that the device is powered, in "
                          "range of the receiver and linked to it, then try again.");
}

QString DeviceSession::stoppedAnsweringText()
{
    return QStringLiteral("The device stopped answering.");
}

void DeviceSession::setTimingForTests(const Timing &timing)
{
    m_timing = timing;
    m_pollTimer.setInterval(timing.pollIntervalMs);
}

QString DeviceSession::deviceId() const
{
    const QString id = m_status.value(QLatin1String("device_id")).toString();
    return id.isEmpty() ? m_hello.value(QLatin1String("device_id")).toString() : id;
}

QString DeviceSession::firmwareVersion() const
{
    const QString version = m_status.value(QLatin1String("firmware_version")).toString();
    return version.isEmpty() ? m_hello.value(QLatin1String("fw")).toString() : version;
}

QString DeviceSession::stationIp() const
{
    return m_status.value(QLatin1String("wifi_sta_ip")).toString();
}

void DeviceSession::setState(State state, const QString &detail)
{
    // Details are the device's or the link's own sentences; passwords never reach them.
    CORVANE_LOG_INFO("device session (%s): %s%s%s", qUtf8Printable(m_link->kind()),
                     QMetaEnum::fromType<State>().valueToKey(state), detail.isEmpty() ? "" : ": ",
                     qUtf8Printable(detail));
    m_state = state;
    Q_EMIT stateChanged(state, detail);
}

void DeviceSession::call(const QString &method, const QJsonObject &params, RpcCallback callback, qint32 timeoutMs)
{
    m_rpc->call(method, params, std::move(callback), timeoutMs > 0 ? timeoutMs : rpcTimeoutMs(method));
}

void DeviceSession::start()
{
    ++m_connection;
    stopPolling();
    m_mustChangePassword = false;
    m_receiverOnly = false;
    m_viaReceiver = false;
    m_restartExpected = false;
    m_lastError.clear();
    m_candidates = QStringList{factoryPassword()};
    setState(Connecting);
    m_link->open();
}

void DeviceSession::submitPassword(const QString &password)
{
    // A new attempt: an earlier refusal no longer describes the session.
    m_lastError.clear();
    m_candidates = QStringList{password};
    setState(SigningIn);
    tryNextPassword();
}

void DeviceSession::signInThroughReceiver()
{
    m_receiverOnly = false;
    m_viaReceiver = true;
    m_mustChangePassword = false;
    m_lastError.clear();
    m_candidates = QStringList{factoryPassword()};
    setState(SigningIn);
    tryNextPassword();
}

void DeviceSession::close()
{
    ++m_connection;
    stopPolling();
    // The link goes first: a callback that calls again while the outstanding calls are
    // failed then fails at once instead of reaching a device nobody listens to any more.
    m_link->close();
    m_rpc->failAll(RpcCode::Disconnected, QStringLiteral("Disconnected"));
    endWifiChecks(QStringLiteral("Disconnected"));
    m_password.clear();
    m_state = Idle;
}

void DeviceSession::onLinkOpened(const QJsonObject &info)
{
    m_hello = info;
    // A link that opens again after a restart ends that restart: a later loss is a loss.
    m_restartExpected = false;
    m_receiverOnly = info.value(QLatin1String("receiver")).toBool(false) && !m_viaReceiver;
    if (m_receiverOnly) {
        setState(Ready);
        return;
    }
    setState(SigningIn);
    if (!m_password.isEmpty())
        m_candidates = QStringList{m_password};
    tryNextPassword();
}

void DeviceSession::onLinkClosed(const QString &reason)
{
    CORVANE_LOG_INFO("%s link lost: %s", qUtf8Printable(m_link->kind()), qUtf8Printable(reason));
    loseLink(RpcCode::Disconnected, QStringLiteral("The connection to the device was lost"), reason);
}

void DeviceSession::loseLink(const QString &code, const QString &message, const QString &reason)
{
    ++m_connection;
    stopPolling();
    m_rpc->failAll(code, message);
    if (m_restartExpected)
        setState(Restarting);
    else if (m_state != Idle)
        setState(Lost, reason);
}

void DeviceSession::onLinkFailed(const QString &code, const QString &message)
{
    CORVANE_LOG_INFO("%s link failed (%s): %s", qUtf8Printable(m_link->kind()), qUtf8Printable(code),
                     qUtf8Printable(message));
    m_lastError = message;
    setState(Error, message);
}

void DeviceSession::tryNextPassword()
{
    if (m_candidates.isEmpty()) {
        setState(NeedsPassword);
        return;
    }
    const QString candidate = m_candidates.takeFirst();
    const quint64 connection = m_connection;
    const qint32 timeout = m_viaReceiver ? m_timing.receiverLoginTimeoutMs : m_timing.loginTimeoutMs;
    call(QStringLiteral("login"), QJsonObject{{QStringLiteral("password"), candidate}},
         [this, candidate, connection](const RpcResult &result) {
             if (connection != m_connection)
                 return;
             if (result.ok) {
                 m_lastError.clear();
                 m_password = candidate;
                 m_mustChangePassword = result.result.value(QLatin1String("must_change_password")).toBool(false);
                 afterLogin();
             } else if (isWrongPassword(result.code)) {
                 tryNextPassword();
             } else if (result.code == QLatin1String("rate_limited")) {
                 m_lastError = result.message;
                 m_candidates.clear();
                 tryNextPassword();
             } else {
                 m_lastError = m_viaReceiver && result.code == RpcCode::Timeout ? receiverTimeoutText() : result.message;
                 setState(Error, m_lastError);
             }
         },
         timeout);
}

void DeviceSession::afterLogin()
{
    const quint64 connection = m_connection;
    refreshStatus([this, connection](bool, const QString &) {
        if (connection != m_connection)
            return;
        if (m_mustChangePassword) {
            setState(NeedsNewPassword);
        } else {
            setState(Ready);
            startPollingIfNeeded();
        }
    });
}

void DeviceSession::stopPolling()
{
    m_pollTimer.stop();
    m_pollInFlight = false;
    m_pollTimeouts = 0;
}

void DeviceSession::startPollingIfNeeded()
{
    if (m_link->needsPolling() && !m_pollTimer.isActive())
        m_pollTimer.start();
}

void DeviceSession::pollOnce()
{
    if (m_state != Ready || m_pollInFlight)
        return;
    // A poll never queues behind what the user asked for.
    if (m_rpc->pendingCount() > 0)
        return;
    m_pollInFlight = true;
    const quint64 connection = m_connection;
    call(QStringLiteral("getState"), QJsonObject(),
         [this, connection](const RpcResult &result) {
             if (connection != m_connection)
                 return;
             m_pollInFlight = false;
             if (result.ok) {
                 m_pollTimeouts = 0;
                 Q_EMIT envelope(result.result);
             } else if (result.code == RpcCode::Unauthorized && !m_password.isEmpty()) {
                 // The device dropped the admin session: sign in again without asking.
                 m_candidates = QStringList{m_password};
                 tryNextPassword();
             } else if (result.code == RpcCode::Timeout && ++m_pollTimeouts >= MaxPollTimeouts) {
                 // The device is gone although the link never said so. Close the link and
                 // say so, rather than stay Ready on a dead link.
                 CORVANE_LOG_INFO("%s link lost: %d status polls in a row went unanswered",
                                  qUtf8Printable(m_link->kind()), MaxPollTimeouts);
                 m_link->close();
                 loseLink(RpcCode::Disconnected, QStringLiteral("The connection to the device was lost"),
                          stoppedAnsweringText());
             }
         },
         m_timing.pollTimeoutMs);
}

void DeviceSession::refreshStatus(DoneCallback done)
{
    call(QStringLiteral("getStatus"), QJsonObject(), [this, done = std::move(done)](const RpcResult &result) {
        if (result.ok) {
            m_status = result.result;
            Q_EMIT statusUpdated();
        }
        if (done)
            done(result.ok, result.ok ? QString() : result.message);
    });
}

void DeviceSession::changePassword(const QString &current, const QString &next, DoneCallback done)
{
    const QJsonObject params{
        {QStringLiteral("current_password"), current},
        {QStringLiteral("new_password"), next},
        {QStringLiteral("confirm_password"), next},
    };
    call(QStringLiteral("changePassword"), params, [this, next, done = std::move(done)](const RpcResult &result) {
        if (result.ok) {
            m_password = next;
            m_mustChangePassword = false;
            setState(Ready);
            startPollingIfNeeded();
        }
        if (done)
            done(result.ok, result.ok ? QString() : result.message);
    });
}

void DeviceSession::reboot(DoneCallback done)
{
    m_restartExpected = true;
    const auto answered = [this, done = std::move(done)](const RpcResult &result) {
        // A device that restarts before or while answering has done what was asked.
        const bool restarting = result.ok || result.code == RpcCode::Timeout || result.code == RpcCode::Disconnected;
        if (!restarting)
            m_restartExpected = false;
        if (done)
            done(restarting, restarting ? QString() : result.message);
    };
    call(QStringLiteral("reboot"), QJsonObject(), answered, m_timing.rebootTimeoutMs);
}

void DeviceSession::scanWifi(ScanCallback done)
{
    call(QStringLiteral("scanWifi"), QJsonObject(), [this, done = std::move(done)](const RpcResult &result) {
        if (!result.ok) {
            if (done)
                done(false, {}, result.message);
            return;
        }
        const QList<WifiNetwork> networks = WifiNetwork::fromScanResult(result.result);
        if (!networks.isEmpty()) {
            if (done)
                done(true, networks, QString());
            return;
        }
        // An empty scan is an answer too; the transmitter is the likely reason for it.
        wirelessLink([done](const WirelessLink &link) {
            if (!done)
                return;
            done(true, {},
                 link.transmitter
                     ? QStringLiteral("This device is set to send its scores to a wireless receiver, so its Wi-Fi is switched "
                                      "off and it cannot see networks. Turn the wireless link off to use Wi-Fi.")
                     : QString());
        });
    });
}

void DeviceSession::configureWifi(const QString &ssid, const QString &pass, ProgressCallback progress, DoneCallback done)
{
    const QJsonObject params{{QStringLiteral("ssid"), ssid}, {QStringLiteral("pass"), pass}};
    call(QStringLiteral("configureWifi"), params,
         [this, ssid, progress = std::move(progress), done = std::move(done)](const RpcResult &result) {
             if (!result.ok) {
                 if (done)
                     done(false, result.message);
                 return;
             }
             if (progress)
                 progress(QStringLiteral("Checking that the device can join %1\u2026").arg(ssid));
             verifyWifi(ssid, 0, progress, done);
         });
}

void DeviceSession::verifyWifi(const QString &ssid, int attempt, ProgressCallback progress, DoneCallback done)
{
    // The wait is held in m_wifiChecks so that close() can end the check with an answer.
    auto check = std::make_shared<WifiCheck>();
    check->done = std::move(done);
    check->timer = new QTimer(this);
    check->timer->setSingleShot(true);
    m_wifiChecks.append(check);
    const std::weak_ptr<WifiCheck> weak = check;
    connect(check->timer, &QTimer::timeout, this, [this, weak, ssid, attempt, progress] {
        const std::shared_ptr<WifiCheck> current = weak.lock();
        if (!current)
            return;
        finishWifiCheck(current);
        refreshStatus([this, ssid, attempt, progress, done = std::move(current->done)](bool ok, const QString &error) {
            if (!ok) {
                if (done)
                    done(false, error);
                return;
            }
            const WifiProvision provision = WifiProvision::fromStatus(m_status);
            if (provision.state != WifiProvision::Pending) {
                if (done)
                    done(provision.state == WifiProvision::Joined, provision.outcomeText(ssid));
            } else if (attempt + 1 < MaxWifiChecks) {
                if (progress)
                    progress(provision.progressText(ssid));
                verifyWifi(ssid, attempt + 1, progress, done);
            } else if (done) {
                done(false, WifiProvision::stillJoiningText(ssid));
            }
        });
    });
    check->timer->start(m_timing.wifiCheckIntervalMs);
}

void DeviceSession::finishWifiCheck(const std::shared_ptr<WifiCheck> &check)
{
    check->timer->stop();
    check->timer->deleteLater();
    m_wifiChecks.removeOne(check);
}

void DeviceSession::endWifiChecks(const QString &message)
{
    const QList<std::shared_ptr<WifiCheck>> checks = std::exchange(m_wifiChecks, {});
    for (const std::shared_ptr<WifiCheck> &check : checks) {
        check->timer->stop();
        check->timer->deleteLater();
        DoneCallback done = std::move(check->done);
        if (done)
            done(false, message);
    }
}

void DeviceSession::wirelessLink(WirelessLinkCallback done)
{
    call(QStringLiteral("getEspNow"), QJsonObject(), [this, done = std::move(done)](const RpcResult &result) {
        const WirelessLink link = result.ok ? WirelessLink::fromEspNowResult(result.result) : WirelessLink();
        m_transmitterOn = link.transmitter;
        if (done)
            done(link);
    });
}

void DeviceSession::enableWirelessTransmitter(const QString &peerMac, const QString &key, bool generateKey,
                                              TransmitterCallback done)
{
    QJsonObject params{{QStringLiteral("role"), QStringLiteral("tx")}};
    const QString peer = peerMac.trimmed().toLower();
    if (!peer.isEmpty())
        params.insert(QStringLiteral("peer_mac"), peer);
    if (generateKey)
        params.insert(QStringLiteral("generate_key"), true);
    else if (!key.trimmed().isEmpty())
        params.insert(QStringLiteral("key"), key.trimmed());
    call(QStringLiteral("setEspNow"), params, [this, done = std::move(done)](const RpcResult &result) {
        if (!result.ok) {
            if (done)
                done(false, result.message, QString());
            return;
        }
        const QString newKey = result.result.value(QLatin1String("key")).toString();
        m_transmitterOn = true;
        // The radio changes role only at boot.
        reboot([done, newKey](bool ok, const QString &error) {
            if (done)
                done(ok, ok ? QString() : error, newKey);
        });
    });
}

void DeviceSession::disableEspNowSender(DoneCallback done)
{
    call(QStringLiteral("setEspNow"), QJsonObject{{QStringLiteral("role"), QStringLiteral("off")}},
         [this, done = std::move(done)](const RpcResult &result) {
             if (!result.ok) {
                 if (done)
                     done(false, result.message);
                 return;
             }
             m_transmitterOn = false;
             reboot(done);
         });
}

void DeviceSession::listControllers(ControllersCallback done)
{
    call(QStringLiteral("getControllerList"), QJsonObject(), [done = std::move(done)](const RpcResult &result) {
        if (!done)
            return;
        if (!result.ok)
            done(false, {}, result.message);
        else
            done(true, ControllerChoice::fromListResult(result.result), QString());
    });
}

void DeviceSession::getControllerConfig(ConfigCallback done)
{
    call(QStringLiteral("getControllerConfig"), QJsonObject(), [done = std::move(done)](const RpcResult &result) {
        if (done)
            done(result.ok, result.result, result.ok ? QString() : result.message);
    });
}

void DeviceSession::setController(const ControllerChoice &choice, DoneCallback done)
{
    const QJsonObject params{
        {QStringLiteral("manufacturer"), choice.manufacturer},
        {QStringLiteral("model"), choice.model},
        {QStringLiteral("sport"), choice.sport},
        {QStringLiteral("input_type"), choice.inputType},
    };
    call(QStringLiteral("setControllerConfig"), params, [done = std::move(done)](const RpcResult &result) {
        if (done)
            done(result.ok, result.ok ? QString() : result.message);
    });
}

void DeviceSession::ensureApiToken(TokenCallback done)
{
    call(QStringLiteral("ensureApiToken"), QJsonObject(), [done = std::move(done)](const RpcResult &result) {
        if (done)
            done(result.ok, result.result.value(QLatin1String("token")).toString(), result.ok ? QString() : result.message);
    });
}

} // namespace corvane
