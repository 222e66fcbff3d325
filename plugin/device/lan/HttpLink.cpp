#include "device/lan/HttpLink.h"

#include "device/lan/HttpAdminTransport.h"
#include "device/rpc/RpcCode.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace corvane {

HttpLink::HttpLink(const QString &address, QObject *parent)
    : DeviceLink(parent)
{
    const HostAndPort split = splitHostAndPort(address);
    m_host = split.host;
    m_port = split.port;
    m_transport = new HttpAdminTransport(m_host, m_port, this);
    m_network.setProxy(QNetworkProxy::NoProxy);
}

HttpLink::~HttpLink()
{
    close();
}

RpcTransport *HttpLink::rpcTransport() const
{
    return m_transport;
}

void HttpLink::setTimingForTests(const Timing &timing)
{
    m_timing = timing;
    m_transport->setRequestTimeout(timing.requestTimeoutMs);
}

void HttpLink::abandonCheck()
{
    QNetworkReply *check = m_check.data();
    m_check.clear();
    if (!check)
        return;
    check->disconnect(this);
    check->abort();
    check->deleteLater();
}

void HttpLink::open()
{
    abandonCheck();
    // Admin traffic waits for this attempt's answer.
    m_transport->setConnected(false);
    const quint32 generation = ++m_generation;

    QNetworkRequest request(webUrl(m_host, m_port, QStringLiteral("/api/status")));
    request.setTransferTimeout(m_timing.statusCheckTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    QNetworkReply *reply = m_network.get(request);
    m_check = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, generation] { onStatusChecked(reply, generation); });
}

void HttpLink::onStatusChecked(QNetworkReply *reply, quint32 generation)
{
    reply->deleteLater();
    if (generation != m_generation)
        return;
    m_check = nullptr;
    // Any HTTP status proves a web server at that address; the device may ask for a sign-in
    // (401) before it tells its status.
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
        m_transport->setConnected(true);
        Q_EMIT opened(QJsonObject());
        return;
    }
    Q_EMIT failed(RpcCode::Unreachable,
                  QStringLiteral("Could not reach %1 on your network. Check the address, and that this computer and the device are on "
                                 "the same network.")
                      .arg(m_host));
}

void HttpLink::close()
{
    ++m_generation;
    abandonCheck();
    m_transport->setConnected(false);
    m_transport->forgetSession();
}

} // namespace corvane
