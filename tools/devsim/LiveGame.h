#pragma once

#include <QJsonObject>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace corvane::devsim {

// A scoreboard in play: the clock runs, scores change, periods end. Each sport keeps the
// fields its controllers publish; advance() moves the game on by some milliseconds and
// message() is the live message the device would send for the current state.
class LiveGame {
public:
    // `sport` is one of sports(), or "cycle" to change sport every cycleMs.
    explicit LiveGame(const QString &sport, quint32 seed = 1);

    static QStringList sports();
    QString sport() const { return m_sport; }
    void advance(int ms);
    QJsonObject message(qint64 timestampMs);
    QJsonObject heartbeat(qint64 timestampMs);
    void setCycleMs(int ms) { m_cycleMs = ms; }

private:
    void startSport(const QString &sport);
    void scoreEvent();
    QJsonObject fields() const;

    bool m_cycle = false;
    int m_cycleMs = 30000;
    int m_sinceSportChange = 0;
    QString m_sport;
    QRandomGenerator m_random;
    int m_seq = 0;
    int m_clockMs = 0; // counting down for timed periods, up for soccer
    int m_period = 1;
    int m_home = 0;
    int m_away = 0;
    int m_homeSets = 0;
    int m_awaySets = 0;
    int m_balls = 0;
    int m_strikes = 0;
    int m_outs = 0;
    bool m_topHalf = true;
    int m_untilEvent = 0;
};

} // namespace corvane::devsim
