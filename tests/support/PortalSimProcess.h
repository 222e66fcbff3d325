#pragma once
// Runs tools/portalsim as a child process on a free 127.0.0.1 port and steers it through
// its control endpoints. Header-only: each test executable that needs it includes it.

#include "support/SimProcess.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace corvane::test {

class PortalSimProcess {
public:
    // Starts the simulator and waits for the URL it prints; empty on failure.
    QString start(const QStringList &arguments = {})
    {
        m_url = m_sim.start(QStringLiteral(CORVANE_PORTAL_SIM), arguments, 5000);
        return m_url;
    }

    void stop() { m_sim.stop(); }

    QString url() const { return m_url; }

    // POST /_sim/behaviour: forced answers for requests under `path`.
    bool behave(const QJsonObject &behaviour) { return call("POST", "/_sim/behaviour", behaviour).value(QStringLiteral("ok")).toBool(); }
    bool reset() { return call("POST", "/_sim/reset", {}).value(QStringLiteral("ok")).toBool(); }
    bool expireSessions() { return call("POST", "/_sim/expire-sessions", {}).value(QStringLiteral("ok")).toBool(); }
    QJsonArray requests() { return call("GET", "/_sim/requests", {}).value(QStringLiteral("requests")).toArray(); }
    QJsonObject lastRequest() { return requests().last().toObject(); }

private:
    QJsonObject call(const QByteArray &method, const char *path, const QJsonObject &body)
    {
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl(m_url + QString::fromLatin1(path)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        request.setTransferTimeout(5000);
        QNetworkReply *reply = method == "GET" ? manager.get(request)
                                               : manager.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        delete reply;
        return answer;
    }

    SimProcess m_sim;
    QString m_url;
};

} // namespace corvane::test
