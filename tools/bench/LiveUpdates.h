#pragma once

#include <QJsonObject>
#include <QString>

#include <ctime>

namespace corvane::bench {

// The clock changes with every update, the score with every tenth: the usual mix.
inline QJsonObject message(int n)
{
    return {{QStringLiteral("sport"), QStringLiteral("basketball")},
            {QStringLiteral("fields"),
             QJsonObject{{QStringLiteral("home_score"), n / 10},
                         {QStringLiteral("away_score"), n / 20},
                         {QStringLiteral("clock"), QStringLiteral("%1:%2").arg(11 - n / 60 % 12).arg(59 - n % 60, 2, 10, QLatin1Char('0'))},
                         {QStringLiteral("period"), 1 + n / 1000 % 4},
                         {QStringLiteral("shot_clock"), 24 - n % 24},
                         {QStringLiteral("home_fouls"), n / 50 % 7},
                         {QStringLiteral("away_fouls"), n / 70 % 5}}}};
}

// CPU time this thread has used, in nanoseconds: what an update costs the thread, without
// the time it waited for a core on a machine busy with other work.
inline qint64 threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace corvane::bench
