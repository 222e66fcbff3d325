#include "cloud/PortalClient.h"

#include "base/OrderedJson.h"
#include "base/Origins.h"
#include "base/Version.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace corvane {

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

// A device configuration relayed by the portal: the scoreboard's keys in the order the
// device documents them, any others after.
const QStringList kConfigOrder = {QStringLiteral("manufacturer"), QStringLiteral("model"), QStringLiteral("sport"),
                                  QStringLiteral("input_type")};

// An HTTP status came back and no network-layer error (connection lost, timeout, TLS) cut
// the transfer short; Qt reports HTTP error statuses as content, protocol or server errors.
int answeredStatus(const QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    const bool networkFailure = error > QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError;
    return status.isValid() && !networkFailure ? status.toInt() : 0;
}

} // namespace

PortalClient::PortalClient(QObject *parent)
    : QObject(parent)
    , m_jar(new Jar)
    , m_baseUrl(QString::fromLatin1(kPortalOrigin))
{
    // The manager takes the jar over and becomes its parent.
    m_manager.setCookieJar(m_jar);
}

PortalClient::~PortalClient()
{
    // Replies still running die with the manager; their callbacks would reach objects that
    // are being torn down, so they are cut loose first and never called.
    const auto replies = m_manager.findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies) {
        reply->disconnect(this);
        reply->abort();
    }
}

void PortalClient::signIn(const QString &email, const QString &password, Callback callback)
{
    const OrderedJson body = OrderedJson().add(key("email"), email.trimmed()).add(key("password"), password);
    sendPayload("POST", QStringLiteral("/auth/login"), body.toJson(),
                [this, callback](const PortalResult &result) {
                    if (result.ok && !result.data.value(key("totp_required")).toBool())
                        applySignedIn(result);
                    if (callback)
                        callback(result);
                },
                false);
}

void PortalClient::signInWithCode(const QString &challengeId, const QString &code, Callback callback)
{
    const OrderedJson body = OrderedJson().add(key("challenge_id"), challengeId).add(key("code"), code.trimmed());
    sendPayload("POST", QStringLiteral("/auth/login/totp"), body.toJson(),
                [this, callback](const PortalResult &result) {
                    if (result.ok)
                        applySignedIn(result);
                    if (callback)
                        callback(result);
                },
                false);
}

void PortalClient::restoreSession(Callback callback)
{
    sendRequest("GET", QStringLiteral("/auth/me"), std::nullopt,
                [this, callback](const PortalResult &result) {
                    if (result.ok)
                        applySignedIn(result);
                    else if (result.status == 401)
                        m_jar->clear();
                    if (callback)
                        callback(result);
                },
                false);
}

void PortalClient::signOut()
{
    // The logout request carries the cookies, so it goes out before the jar is emptied.
    sendRequest("POST", QStringLiteral("/auth/logout"), std::nullopt, nullptr, false);
    m_jar->clear();
    m_email.clear();
    m_role.clear();
    setSignedIn(false);
}

void PortalClient::listDevices(Callback callback)
{
    sendRequest("GET", QStringLiteral("/devices"), std::nullopt, std::move(callback), true);
}

void PortalClient::listOutputs(Callback callback)
{
    sendRequest("GET", QStringLiteral("/api/graphics/outputs"), std::nullopt, std::move(callback), true);
}

void PortalClient::getDeviceState(const QString &deviceId, Callback callback)
{
    sendRequest("GET", devicePath(deviceId) + QStringLiteral("/state"), std::nullopt, std::move(callback), true);
}

void PortalClient::sendCommand(const QString &deviceId, const QString &name, const QJsonObject &args,
                               Callback callback)
{
    sendPayload("POST", devicePath(deviceId) + QStringLiteral("/cmd/") + name, OrderedJson().add(key("args"), args).toJson(),
                std::move(callback), true);
}

void PortalClient::sendConfig(const QString &deviceId, const QJsonObject &config, Callback callback)
{
    const OrderedJson body = OrderedJson().addJson(key("config"), OrderedJson(config, kConfigOrder).toJson());
    sendPayload("POST", devicePath(deviceId) + QStringLiteral("/config"), body.toJson(), std::move(callback), true);
}

void PortalClient::linkDevice(const QString &deviceId, const QString &claimCode, const QString &via,
                              Callback callback)
{
    OrderedJson body = OrderedJson().add(key("device_id"), deviceId).add(key("via"), via);
    if (!claimCode.isEmpty())
        body.add(key("code"), claimCode);
    sendPayload("POST", QStringLiteral("/devices/link"), body.toJson(), std::move(callback), true);
}

void PortalClient::revealPairing(const QString &deviceId, Callback callback)
{
    sendRequest("POST", devicePath(deviceId) + QStringLiteral("/pairing/reveal"), std::nullopt, std::move(callback),
                true);
}

void PortalClient::putPairing(const QString &deviceId, const QString &adminPassword, Callback callback)
{
    sendPayload("PUT", devicePath(deviceId) + QStringLiteral("/pairing"),
                OrderedJson().add(key("admin_password"), adminPassword).toJson(), std::move(callback), true);
}

QString PortalClient::devicePath(const QString &deviceId) const
{
    return QStringLiteral("/devices/") + QString::fromLatin1(QUrl::toPercentEncoding(deviceId));
}

void PortalClient::sendRequest(const QByteArray &method, const QString &path, const std::optional<QJsonObject> &body,
                               Callback callback, bool signOutOn401)
{
    sendPayload(method, path, body ? OrderedJson(*body).toJson() : QByteArray(), std::move(callback), signOutOn401);
}

void PortalClient::sendPayload(const QByteArray &method, const QString &path, const QByteArray &payload,
                               Callback callback, bool signOutOn401)
{
    QNetworkRequest request(QUrl(m_baseUrl + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    request.setRawHeader("Accept", "application/json");
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Corvane-OBS/" CORVANE_PLUGIN_VERSION));
    request.setTransferTimeout(m_timeoutMs);

    QNetworkReply *reply = nullptr;
    if (method == "GET")
        reply = m_manager.get(request);
    else if (method == "POST")
        reply = m_manager.post(request, payload);
    else if (method == "PUT")
        reply = m_manager.put(request, payload);
    else
        reply = m_manager.sendCustomRequest(request, method, payload);

    connect(reply, &QNetworkReply::finished, this, [this, reply, callback = std::move(callback), signOutOn401] {
        const int status = answeredStatus(reply);
        // An aborted reply is closed and has nothing to read.
        const QByteArray answer = reply->isOpen() ? reply->readAll() : QByteArray();
        const PortalResult result = portalResultFromReply(status != 0, status, answer);
        if (result.status == 401 && signOutOn401 && m_signedIn)
            setSignedIn(false);
        reply->deleteLater();
        if (callback)
            callback(result);
    });
}

void PortalClient::applySignedIn(const PortalResult &result)
{
    const QJsonObject user = result.data.value(key("user")).toObject();
    m_email = user.value(key("email")).toString();
    m_role = user.value(key("role")).toString();
    setSignedIn(true);
    m_jar->save();
}

void PortalClient::setSignedIn(bool signedIn)
{
    if (m_signedIn == signedIn)
        return;
    m_signedIn = signedIn;
    Q_EMIT signedInChanged(signedIn);
}

} // namespace corvane
