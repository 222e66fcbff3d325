#pragma once

#include "device/rpc/RpcClient.h"
#include "device/rpc/RpcResult.h"

#include <QTest>

namespace corvane::test {

// Makes one call and waits for its answer; a call that never ends is reported with the
// code "test_gave_up" rather than hanging the test.
inline RpcResult callAndWait(RpcClient &client, const QString &method, const QJsonObject &params = {},
                             qint32 timeoutMs = RpcClient::kDefaultTimeoutMs)
{
    RpcResult outcome;
    int answers = 0;
    client.call(method, params, [&](const RpcResult &result) {
        outcome = result;
        ++answers;
    }, timeoutMs);
    if (!QTest::qWaitFor([&] { return answers > 0; }, 15000))
        outcome.code = QStringLiteral("test_gave_up");
    return outcome;
}

} // namespace corvane::test
