#include "cloud/PortalClient.h"

#include "base/Origins.h"
#include "base/Version.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace corvane {

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

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
    const QJsonObject body{{key("email"), email.trimmed()}, {key("password"), password}};
    sendRequest("POST", QStringLiteral("/auth/login"), body,
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
    const QJsonObject body{{key("challenge_id"), challengeId}, {key("code"), code.trimmed()}};
    sendRequest("POST", QStringLiteral("/auth/login/totp"), body,
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
    sendRequest("POST", devicePath(deviceId) + QStringLiteral("/cmd/") + name, QJsonObject{{key("args"), args}},
                std::move(callback), true);
}

void PortalClient::sendConfig(const QString &deviceId, const QJsonObject &config, Callback callback)
{
    sendRequest("POST", devicePath(deviceId) + QStringLiteral("/config"), QJsonObject{{key("config"), config}},
                std::move(callback), true);
}

void PortalClient::linkDevice(const QString &deviceId, const QString &claimCode, const QString &via,
                              Callback callback)
{
    QJsonObject body{{key("device_id"), deviceId}, {key("via"), via}};
    if (!claimCode.isEmpty())
        body.insert(key("code"), claimCode);
    sendRequest("POST", QStringLiteral("/devices/link"), body, std::move(callback), true);
}

void PortalClient::revealPairing(const QString &deviceId, Callback callback)
{
    sendRequest("POST", devicePath(deviceId) + QStringLiteral("/pairing/reveal"), std::nullopt, std::move(callback),
                true);
}

void PortalClient::putPairing(const QString &deviceId, const QString &adminPassword, Callback callback)
{
    sendRequest("PUT", devicePath(deviceId) + QStringLiteral("/pairing"),
                QJsonObject{{key("admin_password"), adminPassword}}, std::move(callback), true);
}

QString PortalClient::devicePath(const QString &deviceId) const
{
    return QStringLiteral("/devices/") + QString::fromLatin1(QUrl::toPercentEncoding(deviceId));
}

void PortalClient::sendRequest(const QByteArray &method, const QString &path, const std::optional<QJsonObject> &body,
                               Callback callback, bool signOutOn401)
{
    QNetworkRequest request(QUrl(m_baseUrl + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    request.setRawHeader("Accept", "application/json");
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Corvane-OBS/" CORVANE_PLUGIN_VERSION));
    request.setTransferTimeout(m_timeoutMs);
    const QByteArray payload = body ? QJsonDocument(*body).toJson(QJsonDocument::Compact) : QByteArray();

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
