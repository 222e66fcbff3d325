#include "device/lan/HttpAdminTransport.h"

#include "device/lan/DeviceWebApi.h"
#include "device/rpc/RpcCode.h"
#include "device/rpc/RpcMethodTable.h"
#include "device/rpc/RpcResult.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <cstring>

namespace corvane {

namespace {

QNetworkRequest deviceRequest(const QUrl &url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    // Statuses reach the translation as the device sent them, and only the cookie this
    // transport keeps goes out: no redirects followed, no cookie jar of Qt's own.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    return request;
}

// A request body that can be read once. Qt sends a request again on a new connection when
// the first one closes before the answer; for a POST that would repeat what the device may
// already have done (a second password change, a second reboot). An upload that cannot be
// rewound turns that resend into a plain failure instead.
class OneShotBody : public QIODevice {
public:
    explicit OneShotBody(const QByteArray &bytes)
        : m_bytes(bytes)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return m_bytes.size() - m_offset + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, qint64(m_bytes.size()) - m_offset);
        if (n <= 0)
            return m_offset >= m_bytes.size() ? -1 : 0;
        std::memcpy(data, m_bytes.constData() + m_offset, size_t(n));
        m_offset += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_offset = 0;
};

} // namespace

HttpAdminTransport::HttpAdminTransport(const QString &host, int port, QObject *parent)
    : RpcTransport(parent)
    , m_host(host)
    , m_port(port)
{
    // The device is on the local network; a proxy could not reach it.
    m_network.setProxy(QNetworkProxy::NoProxy);
}

HttpAdminTransport::~HttpAdminTransport() = default;

void HttpAdminTransport::forgetSession()
{
    m_cookie.clear();
    m_csrfToken.clear();
    ++m_sessionEpoch;
}

void HttpAdminTransport::send(const QByteArray &json)
{
    const QJsonObject envelope = QJsonDocument::fromJson(json).object();
    const qint64 id = envelope.value(QLatin1String("id")).toInteger(0);
    const QString method = envelope.value(QLatin1String("method")).toString();
    const QJsonObject params = envelope.value(QLatin1String("params")).toObject();

    if (!m_connected) {
        emitReply(id, RpcResult::failure(RpcCode::Disconnected, QStringLiteral("Not connected to a device")));
        return;
    }
    const WebRoute *route = findWebRoute(method);
    if (!route) {
        emitReply(id, RpcResult::failure(RpcCode::NotAvailableHere,
                                         QStringLiteral("This is only available over USB or Bluetooth, not over the network.")));
        return;
    }
    start(id, method, *route, params);
}

void HttpAdminTransport::start(qint64 id, const QString &method, const WebRoute &route, const QJsonObject &params)
{
    QNetworkRequest request = deviceRequest(webUrl(m_host, m_port, QString::fromLatin1(route.path)), m_requestTimeoutMs);
    request.setRawHeader("Accept", "application/json");
    if (!m_cookie.isEmpty())
        request.setRawHeader("Cookie", m_cookie);
    if (!m_csrfToken.isEmpty())
        request.setRawHeader("X-CSRF-Token", m_csrfToken);

    QNetworkReply *reply = nullptr;
    if (route.verb == WebVerb::Get) {
        reply = m_network.get(request);
    } else {
        if (route.body == WebBody::Json)
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        else if (route.body == WebBody::Form)
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        const QByteArray body = encodeWebBody(route.body, params, rpcParamOrder(method));
        request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        auto *upload = new OneShotBody(body);
        reply = m_network.post(request, upload);
        upload->setParent(reply);
    }
    const quint32 epoch = m_sessionEpoch;
    connect(reply, &QNetworkReply::finished, this, [this, reply, id, method, epoch] { onFinished(reply, id, method, epoch); });
}

void HttpAdminTransport::onFinished(QNetworkReply *reply, qint64 id, const QString &method, quint32 epoch)
{
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    // A reply aborted by its time-out is closed; there is nothing to read then.
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    const QByteArray setCookie = reply->rawHeader("Set-Cookie");
    reply->deleteLater();

    const WebAnswer answer = translateWebAnswer(method, status, body, setCookie);
    // A sign-in that was under way when the session was forgotten must not bring it back.
    if (answer.storeSession && epoch == m_sessionEpoch) {
        m_cookie = answer.cookie;
        m_csrfToken = answer.csrfToken;
    }
    emitReply(id, answer.result);
}

void HttpAdminTransport::emitReply(qint64 id, const RpcResult &result)
{
    QJsonObject reply{{QStringLiteral("id"), id}, {QStringLiteral("ok"), result.ok}};
    if (result.ok)
        reply.insert(QStringLiteral("result"), result.result);
    else
        reply.insert(QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), result.code}, {QStringLiteral("message"), result.message}});
    Q_EMIT message(QJsonDocument(reply).toJson(QJsonDocument::Compact));
}

} // namespace corvane
