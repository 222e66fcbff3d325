#include "device/rpc/RpcClient.h"

#include "base/OrderedJson.h"
#include "device/rpc/RpcCode.h"
#include "device/rpc/RpcMethodTable.h"
#include "device/rpc/RpcTransport.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <utility>

namespace corvane {

RpcClient::RpcClient(RpcTransport *transport, QObject *parent)
    : QObject(parent)
    , m_transport(transport)
{
    m_deadline.setSingleShot(true);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kBusyRetryDelayMs);
    connect(&m_deadline, &QTimer::timeout, this, &RpcClient::onTimeout);
    connect(&m_retryTimer, &QTimer::timeout, this, &RpcClient::pump);
    if (transport) {
        connect(transport, &RpcTransport::message, this, &RpcClient::onMessage);
        connect(transport, &RpcTransport::sendFailed, this, &RpcClient::onSendFailed);
    }
}

RpcClient::~RpcClient() = default;

void RpcClient::call(const QString &method, const QJsonObject &params, RpcCallback callback, qint32 timeoutMs)
{
    RpcRequest request;
    request.method = method;
    request.params = params;
    request.callback = std::move(callback);
    request.timeoutMs = timeoutMs;
    m_queue.push_back(std::move(request));
    pump();
}

int RpcClient::pendingCount() const
{
    return static_cast<int>(m_queue.size()) + (m_busy ? 1 : 0);
}

void RpcClient::setBusyRetryDelayForTests(int ms)
{
    m_retryTimer.setInterval(ms);
}

void RpcClient::setNextIdForTests(qint32 id)
{
    m_nextId = id;
}

void RpcClient::pump()
{
    const QPointer<RpcClient> self(this);
    while (!m_busy && !m_queue.empty()) {
        if (!m_transport || !m_transport->isConnected()) {
            RpcCallback callback = std::move(m_queue.front().callback);
            m_queue.pop_front();
            if (callback)
                callback(RpcResult::failure(RpcCode::Disconnected, QStringLiteral("Not connected to a device")));
            if (!self)
                return;
            continue;
        }
        // While a "busy" retry waits, nothing else goes out either, so the device gets its
        // spacing even when new calls arrive meanwhile.
        if (m_retryTimer.isActive())
            return;
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        m_currentId = m_nextId;
        m_nextId = m_nextId >= kMaxRequestId ? 1 : m_nextId + 1;
        // The documented key order, down to the parameters, for devices that read bytes.
        const QByteArray envelope = OrderedJson()
                                        .add(QStringLiteral("id"), m_currentId)
                                        .add(QStringLiteral("method"), m_current.method)
                                        .addJson(QStringLiteral("params"), rpcParamsJson(m_current.method, m_current.params))
                                        .toJson();
        // The deadline runs before send so that a failure reported from inside send finds it.
        // A negative deadline would leave the timer stopped and the call waiting forever.
        m_deadline.start(qMax(0, m_current.timeoutMs));
        m_transport->send(envelope);
        return;
    }
}

void RpcClient::finish(const RpcResult &result)
{
    m_deadline.stop();
    m_busy = false;
    RpcCallback callback = std::move(m_current.callback);
    m_current = RpcRequest();
    const QPointer<RpcClient> self(this);
    if (callback)
        callback(result);
    if (self)
        pump();
}

void RpcClient::onMessage(const QByteArray &json)
{
    if (!m_busy)
        return;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return;
    const QJsonObject reply = doc.object();
    if (reply.value(QStringLiteral("id")).toInteger(-1) != m_currentId)
        return;

    if (reply.value(QStringLiteral("ok")).toBool(false)) {
        const QJsonValue value = reply.value(QStringLiteral("result"));
        QJsonObject result;
        if (value.isObject())
            result = value.toObject();
        else if (!value.isUndefined())
            result.insert(QStringLiteral("value"), value);
        finish(RpcResult::success(result));
        return;
    }

    const QJsonObject details = reply.value(QStringLiteral("error")).toObject();
    QString code = details.value(QStringLiteral("code")).toString();
    QString message = details.value(QStringLiteral("message")).toString();
    if (code.isEmpty())
        code = QStringLiteral("device_error");
    if (message.isEmpty())
        message = QStringLiteral("The device rejected '%1'").arg(m_current.method);

    if (code == RpcCode::Busy && m_current.retries < kMaxBusyRetries) {
        RpcRequest retry = std::move(m_current);
        m_current = RpcRequest();
        ++retry.retries;
        m_queue.push_front(std::move(retry));
        m_busy = false;
        m_deadline.stop();
        m_retryTimer.start();
        return;
    }
    finish(RpcResult::failure(code, message));
}

void RpcClient::onSendFailed(const QString &code, const QString &text)
{
    if (m_busy)
        finish(RpcResult::failure(code, text));
}

void RpcClient::onTimeout()
{
    if (m_busy)
        finish(RpcResult::failure(RpcCode::Timeout,
                                  QStringLiteral("The device did not answer '%1' in time").arg(m_current.method)));
}

void RpcClient::failAll(const QString &code, const QString &message)
{
    std::deque<RpcRequest> removed;
    removed.swap(m_queue);
    m_retryTimer.stop();
    const RpcResult result = RpcResult::failure(code, message);
    if (m_busy)
        finish(result);
    // The removed calls no longer belong to the client: each gets its answer even if a
    // callback destroys the client.
    for (RpcRequest &request : removed) {
        if (request.callback)
            request.callback(result);
    }
}

} // namespace corvane
