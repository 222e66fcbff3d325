#include "LiveGame.h"

namespace corvane::devsim {

namespace {

struct SportRules {
    const char *name;
    int periodMs; // 0: no game clock
    int periods;
    bool countsUp;
    int maxPoints; // points per scoring event
};

// The sports the simulator plays, with the shape of their clocks and scores.
constexpr SportRules Rules[] = {
    {"basketball", 12 * 60000, 4, false, 3},
    {"hockey", 20 * 60000, 3, false, 1},
    {"soccer", 45 * 60000, 2, true, 1},
    {"lacrosse", 15 * 60000, 4, false, 1},
    {"volleyball", 0, 5, false, 1},
    {"baseball", 0, 9, false, 1},
};

const SportRules &rulesFor(const QString &sport)
{
    for (const SportRules &rules : Rules) {
        if (sport == QLatin1String(rules.name))
            return rules;
    }
    return Rules[0];
}

QString clockText(int ms)
{
    const int seconds = qMax(0, ms) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

LiveGame::LiveGame(const QString &sport, quint32 seed)
    : m_random(seed)
{
    m_cycle = sport == QLatin1String("cycle");
    startSport(m_cycle ? sports().first() : sport);
}

QStringList LiveGame::sports()
{
    QStringList names;
    for (const SportRules &rules : Rules)
        names << QLatin1String(rules.name);
    return names;
}

void LiveGame::startSport(const QString &sport)
{
    const SportRules &rules = rulesFor(sport);
    m_sport = QLatin1String(rules.name);
    m_clockMs = rules.countsUp ? 0 : rules.periodMs;
    m_period = 1;
    m_home = m_away = m_homeSets = m_awaySets = 0;
    m_balls = m_strikes = m_outs = 0;
    m_topHalf = true;
    m_untilEvent = 2000;
    m_sinceSportChange = 0;
}

void LiveGame::advance(int ms)
{
    const SportRules &rules = rulesFor(m_sport);
    if (rules.periodMs > 0) {
        m_clockMs += rules.countsUp ? ms : -ms;
        const bool periodOver = rules.countsUp ? m_clockMs >= rules.periodMs : m_clockMs <= 0;
        if (periodOver) {
            m_period = m_period % rules.periods + 1;
            m_clockMs = rules.countsUp ? 0 : rules.periodMs;
        }
    }
    m_untilEvent -= ms;
    while (m_untilEvent <= 0) {
        scoreEvent();
        m_untilEvent += 1500 + int(m_random.bounded(4000));
    }
    if (m_cycle) {
        m_sinceSportChange += ms;
        if (m_sinceSportChange >= m_cycleMs) {
            const QStringList all = sports();
            startSport(all.at((all.indexOf(m_sport) + 1) % all.size()));
        }
    }
}

void LiveGame::scoreEvent()
{
    const SportRules &rules = rulesFor(m_sport);
    const bool home = m_random.bounded(2) == 0;
    if (m_sport == QLatin1String("baseball")) {
        // A pitch: a ball, a strike, an out or a run.
        switch (m_random.bounded(4)) {
        case 0:
            m_balls = (m_balls + 1) % 4;
            break;
        case 1:
            m_strikes = (m_strikes + 1) % 3;
            break;
        case 2:
            m_balls = m_strikes = 0;
            if (++m_outs == 3) {
                m_outs = 0;
                m_topHalf = !m_topHalf;
                if (m_topHalf)
                    m_period = m_period % rules.periods + 1;
            }
            break;
        default:
            (m_topHalf ? m_away : m_home) += 1;
            m_balls = m_strikes = 0;
            break;
        }
        return;
    }
    const int points = 1 + int(m_random.bounded(rules.maxPoints));
    (home ? m_home : m_away) += points;
    if (m_sport == QLatin1String("volleyball") && qMax(m_home, m_away) >= 25 && qAbs(m_home - m_away) >= 2) {
        (m_home > m_away ? m_homeSets : m_awaySets) += 1;
        m_home = m_away = 0;
        m_period = m_period % rules.periods + 1;
    }
}

QJsonObject LiveGame::fields() const
{
    QJsonObject f{{QStringLiteral("home_score"), m_home}, {QStringLiteral("away_score"), m_away}};
    const SportRules &rules = rulesFor(m_sport);
    if (rules.periodMs > 0)
        f.insert(QStringLiteral("clock"), clockText(m_clockMs));
    if (m_sport == QLatin1String("basketball") || m_sport == QLatin1String("lacrosse")) {
        f.insert(QStringLiteral("quarter"), m_period);
        f.insert(QStringLiteral("period"), m_period);
    } else if (m_sport == QLatin1String("soccer")) {
        f.insert(QStringLiteral("half"), m_period);
    } else if (m_sport == QLatin1String("hockey")) {
        f.insert(QStringLiteral("period"), m_period);
    } else if (m_sport == QLatin1String("volleyball")) {
        f.insert(QStringLiteral("set"), m_period);
        f.insert(QStringLiteral("home_sets"), m_homeSets);
        f.insert(QStringLiteral("away_sets"), m_awaySets);
    } else if (m_sport == QLatin1String("baseball")) {
        f.insert(QStringLiteral("inning"), m_period);
        f.insert(QStringLiteral("inning_half"), m_topHalf ? QStringLiteral("top") : QStringLiteral("bottom"));
        f.insert(QStringLiteral("balls"), m_balls);
        f.insert(QStringLiteral("strikes"), m_strikes);
        f.insert(QStringLiteral("outs"), m_outs);
    }
    return f;
}

QJsonObject LiveGame::message(qint64 timestampMs)
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("state")},
        {QStringLiteral("v"), 1},
        {QStringLiteral("seq"), ++m_seq},
        {QStringLiteral("ts_ms"), double(timestampMs)},
        {QStringLiteral("transport"), QStringLiteral("usb")},
        {QStringLiteral("sport"), m_sport},
        {QStringLiteral("fields"), fields()},
    };
}

QJsonObject LiveGame::heartbeat(qint64 timestampMs)
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("heartbeat")},
        {QStringLiteral("seq"), ++m_seq},
        {QStringLiteral("ts_ms"), double(timestampMs)},
        {QStringLiteral("online"), true},
        {QStringLiteral("transport"), QStringLiteral("usb")},
    };
}

} // namespace corvane::devsim
