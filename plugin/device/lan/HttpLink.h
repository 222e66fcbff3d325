#pragma once

#include "device/DeviceLink.h"
#include "device/lan/DeviceWebApi.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QString>

class QNetworkReply;

namespace corvane {

class HttpAdminTransport;

// A device on the local network, administered through its own web API. Opening checks that
// something answers HTTP at the device's status address; admin requests then travel on the
// HttpAdminTransport. Live data does not come this way (that is the TLS feed), so the link
// never emits envelope or closed, and a signed-in session polls instead.
class HttpLink : public DeviceLink {
    Q_OBJECT
public:
    // The link's clocks. Defaults are the production values; tests shorten them.
    struct Timing {
        int statusCheckTimeoutMs = 8000;
        int requestTimeoutMs = 30000;
    };

    // `address` is a host, "host:port" or "[v6 literal]:port" (see splitHostAndPort).
    explicit HttpLink(const QString &address, QObject *parent = nullptr);
    ~HttpLink() override;

    QString kind() const override { return QStringLiteral("lan"); }
    void open() override;
    void close() override;
    RpcTransport *rpcTransport() const override;
    bool needsPolling() const override { return true; }

    QString host() const { return m_host; }
    int port() const { return m_port; }
    HttpAdminTransport *adminTransport() const { return m_transport; }

    void setTimingForTests(const Timing &timing);

private:
    void onStatusChecked(QNetworkReply *reply, quint32 generation);
    void abandonCheck();

    QString m_host;
    int m_port = 0;
    QNetworkAccessManager m_network;
    quint32 m_generation = 0; // every open and close; answers of older attempts are void
    HttpAdminTransport *m_transport = nullptr;
    QPointer<QNetworkReply> m_check;
    Timing m_timing;
};

} // namespace corvane
