#pragma once
// Times device calls the way the plugin makes them: one at a time, each waited for.

#include "device/rpc/RpcClient.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <vector>

namespace corvane::bench {

// Calls `method` `count` times back to back; the time of each call in milliseconds, or
// empty (with the reason on standard error) when one fails.
inline std::vector<double> timeCalls(RpcClient &client, const QString &method, const QJsonObject &params, int count)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        QEventLoop loop;
        RpcResult outcome;
        QElapsedTimer clock;
        clock.start();
        client.call(method, params, [&](const RpcResult &result) {
            outcome = result;
            loop.quit();
        });
        if (client.pendingCount() > 0)
            loop.exec();
        if (!outcome.ok) {
            std::fprintf(stderr, "call %d of %s failed: %s %s\n", i, qPrintable(method), qPrintable(outcome.code),
                         qPrintable(outcome.message));
            return {};
        }
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return times;
}

} // namespace corvane::bench
