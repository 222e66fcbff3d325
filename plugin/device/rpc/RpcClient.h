#pragma once

#include "device/rpc/RpcResult.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>

namespace corvane {

class RpcTransport;

// One call as the client keeps it while queued or in flight.
struct RpcRequest {
    QString method;
    QJsonObject params;
    RpcCallback callback;
    qint32 timeoutMs = 20000;
    qint32 retries = 0; // "busy" retries already made
};

// Runs RPC calls on one transport strictly one at a time in call order: gives each a
// request id, applies its deadline, retries "busy" replies and reports every outcome as an
// RpcResult to the call's callback, exactly once. The transport is not owned (the link owns
// it). Destroying the client drops queued calls without calling their callbacks.
class RpcClient : public QObject {
    Q_OBJECT
public:
    static constexpr qint32 kDefaultTimeoutMs = 20000;
    static constexpr int kBusyRetryDelayMs = 250;
    static constexpr int kMaxBusyRetries = 3;
    static constexpr qint32 kMaxRequestId = 2147483647;

    explicit RpcClient(RpcTransport *transport, QObject *parent = nullptr);
    ~RpcClient() override;

    // Queues one call. The callback may run before call returns (transport not connected).
    void call(const QString &method, const QJsonObject &params = {}, RpcCallback callback = {},
              qint32 timeoutMs = kDefaultTimeoutMs);
    // Ends the call in flight, then every queued one, in order, with this failure.
    void failAll(const QString &code, const QString &message);
    // Queued calls plus the one in flight.
    int pendingCount() const;

    // Test seams: a shorter "busy" spacing, and a chosen next request id.
    void setBusyRetryDelayForTests(int ms);
    void setNextIdForTests(qint32 id);

private Q_SLOTS:
    void onMessage(const QByteArray &json);
    void onSendFailed(const QString &code, const QString &text);
    void onTimeout();

private:
    void pump();
    void finish(const RpcResult &result);

    QPointer<RpcTransport> m_transport;
    std::deque<RpcRequest> m_queue;
    bool m_busy = false;
    RpcRequest m_current;
    qint32 m_currentId = 0;
    qint32 m_nextId = 1;
    QTimer m_deadline;
    QTimer m_retryTimer;
};

} // namespace corvane
