#pragma once

#include "device/rpc/RpcTransport.h"

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QString>

class QNetworkReply;

namespace corvane {

struct RpcResult;
struct WebRoute;

// The RPC transport of a device on the local network: each request envelope becomes one
// HTTP request to a fixed address of the device's web API, and the HTTP answer comes back
// as a reply envelope. Keeps the admin session cookie and CSRF token that "login" hands out.
// Methods without a web address are refused here without any traffic.
class HttpAdminTransport : public RpcTransport {
    Q_OBJECT
public:
    static constexpr int kRequestTimeoutMs = 30000;

    HttpAdminTransport(const QString &host, int port, QObject *parent = nullptr);
    ~HttpAdminTransport() override;

    bool isConnected() const override { return m_connected; }
    void send(const QByteArray &json) override;

    // Set by the link once the device answered its status check.
    void setConnected(bool connected) { m_connected = connected; }
    // Drops the session cookie and CSRF token; a "login" still in flight will not store its.
    void forgetSession();

    QString host() const { return m_host; }
    int port() const { return m_port; }
    QByteArray sessionCookie() const { return m_cookie; }
    QByteArray csrfToken() const { return m_csrfToken; }

    // Test seam: a shorter transfer time-out than the 30 s a slow device may need.
    // The deadline of each web request; its link shortens it for tests.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }

private:
    void start(qint64 id, const QString &method, const WebRoute &route, const QJsonObject &params);
    void onFinished(QNetworkReply *reply, qint64 id, const QString &method, quint32 epoch);
    void emitReply(qint64 id, const RpcResult &result);

    QNetworkAccessManager m_network;
    QString m_host;
    int m_port = 0;
    bool m_connected = false;
    QByteArray m_cookie;
    QByteArray m_csrfToken;
    quint32 m_sessionEpoch = 0; // increased by forgetSession
    int m_requestTimeoutMs = kRequestTimeoutMs;
};

} // namespace corvane
