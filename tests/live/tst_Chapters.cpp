// Chapters and the game log of a recording: which changes make a chapter, what it is called
// (the score text's template language), and the log's lines and file name.
#include "live/ChapterMaker.h"
#include "live/ChapterSpacing.h"
#include "live/GameLog.h"

#include <QTest>

using namespace corvane;
using Changes = ChapterMaker::Changes;

Q_DECLARE_METATYPE(ChapterMaker::Changes)
Q_DECLARE_METATYPE(corvane::ScoreState)

namespace {

ScoreState state(const QString &home, const QString &away, const QString &period)
{
    ScoreState s;
    s.sport = QStringLiteral("hockey");
    s.fields = {{QStringLiteral("home_name"), QStringLiteral("Otters")},
                {QStringLiteral("away_name"), QStringLiteral("Lynx")},
                {QStringLiteral("home_score"), home},
                {QStringLiteral("away_score"), away},
                {QStringLiteral("period"), period},
                {QStringLiteral("clock"), QStringLiteral("12:00")}};
    return s;
}

} // namespace

class TestChapters : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void whichChangesMakeAChapter_data()
    {
        QTest::addColumn<ScoreState>("before");
        QTest::addColumn<ScoreState>("after");
        QTest::addColumn<Changes>("changes");
        QTest::addColumn<bool>("chapter");

        const ScoreState start = state("1", "0", "1");
        const ScoreState goal = state("2", "0", "1");
        const ScoreState awayGoal = state("1", "1", "1");
        const ScoreState nextPeriod = state("1", "0", "2");
        ScoreState tick = start;
        tick.fields[QStringLiteral("clock")] = QStringLiteral("11:59");
        ScoreState quarter = start;
        quarter.fields[QStringLiteral("quarter")] = QStringLiteral("3");
        ScoreState set = start;
        set.fields[QStringLiteral("set")] = QStringLiteral("2");

        QTest::newRow("home goal, score") << start << goal << Changes::Score << true;
        QTest::newRow("away goal, score") << start << awayGoal << Changes::Score << true;
        QTest::newRow("home goal, period") << start << goal << Changes::Period << false;
        QTest::newRow("home goal, both") << start << goal << Changes::Both << true;
        QTest::newRow("period, score") << start << nextPeriod << Changes::Score << false;
        QTest::newRow("period, period") << start << nextPeriod << Changes::Period << true;
        QTest::newRow("period, both") << start << nextPeriod << Changes::Both << true;
        QTest::newRow("quarter is a period") << start << quarter << Changes::Period << true;
        QTest::newRow("set is a period") << start << set << Changes::Period << true;
        QTest::newRow("clock alone, both") << start << tick << Changes::Both << false;
        QTest::newRow("nothing, both") << start << start << Changes::Both << false;
        QTest::newRow("data arrives") << ScoreState() << start << Changes::Score << true;
        QTest::newRow("data lost") << start << ScoreState() << Changes::Both << false;
    }

    void whichChangesMakeAChapter()
    {
        QFETCH(ScoreState, before);
        QFETCH(ScoreState, after);
        QFETCH(Changes, changes);
        QFETCH(bool, chapter);
        QCOMPARE(ChapterMaker::isChapterChange(before, after, changes), chapter);
    }

    void chapterText_data()
    {
        QTest::addColumn<QString>("templateText");
        QTest::addColumn<ScoreState>("state");
        QTest::addColumn<QString>("text");

        QTest::newRow("default template") << QString::fromUtf8(ChapterMaker::kDefaultTemplate) << state("3", "2", "2")
                                          << QString::fromUtf8("Otters 3\u20132 Lynx \u00b7 2");
        // Every sport's period under the default name, and no "·" left by one not sent.
        ScoreState soccer = state("1", "0", QString());
        soccer.fields.remove(QStringLiteral("period"));
        soccer.fields[QStringLiteral("half")] = QStringLiteral("2");
        ScoreState volleyball = soccer;
        volleyball.fields.remove(QStringLiteral("half"));
        volleyball.fields[QStringLiteral("set")] = QStringLiteral("4");
        ScoreState noPeriod = volleyball;
        noPeriod.fields.remove(QStringLiteral("set"));
        const QString defaultTemplate = QString::fromUtf8(ChapterMaker::kDefaultTemplate);
        QTest::newRow("soccer half") << defaultTemplate << soccer << QString::fromUtf8("Otters 1\u20130 Lynx \u00b7 2");
        QTest::newRow("volleyball set") << defaultTemplate << volleyball << QString::fromUtf8("Otters 1\u20130 Lynx \u00b7 4");
        QTest::newRow("no period, no stray dot") << defaultTemplate << noPeriod << QString::fromUtf8("Otters 1\u20130 Lynx");
        QTest::newRow("dots between missing fields")
            << QString::fromUtf8("{overtime} \u00b7 {home_score} \u00b7 {shootout} \u00b7 {away_score}") << noPeriod
            << QString::fromUtf8("1 \u00b7 0");
        QTest::newRow("sport and missing fields")
            << QStringLiteral("{sport}: {home_score}-{away_score} {overtime}") << state("3", "2", "2")
            << QStringLiteral("hockey: 3-2");
        ScoreState multiline = state("3", "2", "2");
        multiline.fields[QStringLiteral("home_name")] = QStringLiteral("Otters\r\nHC\tNorth");
        QTest::newRow("one line whatever a field holds")
            << QStringLiteral("{home_name} {home_score}") << multiline << QStringLiteral("Otters  HC North 3");
    }

    void chapterText()
    {
        QFETCH(QString, templateText);
        QFETCH(ScoreState, state);
        QFETCH(QString, text);
        ChapterMaker maker;
        maker.setTemplate(templateText);
        QCOMPARE(maker.textFor(state), text);
    }

    void chaptersOfARecording()
    {
        // A game as the recording sees it: the chapters are the starting state and each
        // change that renders to a new text; a change the template does not show, a lost
        // feed and its return to the same score make none.
        ChapterMaker maker;
        maker.setTemplate(QStringLiteral("{home_score}-{away_score}"));
        maker.setChanges(Changes::Both);
        QStringList chapters;
        const auto take = [&chapters](const std::optional<QString> &text) {
            if (text)
                chapters << *text;
        };
        take(maker.begin(ScoreState()));
        take(maker.next(state("0", "0", "1")));
        take(maker.next(state("1", "0", "1")));
        take(maker.next(state("1", "0", "2"))); // the period is not in the template
        take(maker.next(ScoreState()));
        take(maker.next(state("1", "0", "2")));
        take(maker.next(state("1", "1", "2")));
        QCOMPARE(chapters, (QStringList{"0-0", "1-0", "1-1"}));

        maker.setTemplate(QStringLiteral("{period}"));
        QCOMPARE(maker.begin(state("1", "1", "3")), std::optional<QString>(QStringLiteral("3")));
        QCOMPARE(maker.next(state("2", "1", "3")), std::optional<QString>()); // score changed, same text
        maker.setTemplate(QStringLiteral("{nothing}"));
        QCOMPARE(maker.next(state("2", "1", "4")), std::optional<QString>()); // an empty name is no chapter
    }

    void spacing_data()
    {
        // Each step: "ms text" offers a chapter, "ms" runs the waiting one if due; the
        // chapters that go in, as "ms text".
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("added");

        QTest::newRow("far apart: each at once") << QStringList{"0 A", "10000 B", "25000 C"}
                                                 << QStringList{"0 A", "10000 B", "25000 C"};
        QTest::newRow("close: waits for the minimum") << QStringList{"0 A", "3000 B", "9999", "10000"}
                                                      << QStringList{"0 A", "10000 B"};
        QTest::newRow("several close: the latest name") << QStringList{"0 A", "3000 B", "6000 C", "10000"}
                                                        << QStringList{"0 A", "10000 C"};
        QTest::newRow("back to the name in: none") << QStringList{"0 A", "3000 B", "6000 A", "10000"}
                                                   << QStringList{"0 A"};
        QTest::newRow("spacing counts from the merged one") << QStringList{"0 A", "3000 B", "10000", "15000 C", "20000"}
                                                            << QStringList{"0 A", "10000 B", "20000 C"};
    }

    void spacing()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, added);
        ChapterSpacing spacing;
        spacing.setMinimumMs(10000);
        QStringList out;
        for (const QString &step : steps) {
            const qint64 ms = step.section(QLatin1Char(' '), 0, 0).toLongLong();
            const QString text = step.section(QLatin1Char(' '), 1);
            const std::optional<QString> in = text.isEmpty() ? spacing.takeDue(ms) : spacing.offer(ms, text);
            if (in)
                out << QStringLiteral("%1 %2").arg(ms).arg(*in);
        }
        QCOMPARE(out, added);
    }

    void logLine_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("line");

        QTest::newRow("start") << qint64(0) << QStringLiteral("0:00:00 3-2");
        QTest::newRow("seconds truncate") << qint64(59999) << QStringLiteral("0:00:59 3-2");
        QTest::newRow("minutes pad") << qint64(61000) << QStringLiteral("0:01:01 3-2");
        QTest::newRow("last second of the hour") << qint64(3599000) << QStringLiteral("0:59:59 3-2");
        QTest::newRow("hour") << qint64(3600000) << QStringLiteral("1:00:00 3-2");
        QTest::newRow("hours do not wrap") << qint64(25 * 3600000LL + 62000) << QStringLiteral("25:01:02 3-2");
    }

    void logLine()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, line);
        QCOMPARE(GameLog::line(ms, QStringLiteral("3-2")), line);
    }

    void logTimesLeaveOutPauses()
    {
        GameLog log;
        log.start(10000);
        log.add(10000, QStringLiteral("0-0"));
        log.add(15500, QStringLiteral("1-0"));
        log.pause(20000);
        // During the pause: one chapter, where the recording resumes, named as the last
        // asked for (the recording takes only that one).
        log.add(40000, QStringLiteral("1-1"));
        log.add(50000, QStringLiteral("1-2"));
        log.unpause(80000);
        log.add(90000, QStringLiteral("2-1"));
        QCOMPARE(log.text(), QStringLiteral("0:00:00 0-0\n0:00:05 1-0\n0:00:10 1-2\n0:00:20 2-1\n"));
        log.start(100000);
        QCOMPARE(log.text(), QString());
    }

    void logBesideTheRecording_data()
    {
        QTest::addColumn<QString>("recording");
        QTest::addColumn<QString>("log");

        QTest::newRow("mp4") << "/v/2026-12-08 19-00-01.mp4" << "/v/2026-12-08 19-00-01.scores.txt";
        QTest::newRow("dots in the name") << "/v/game.final.v2.mkv" << "/v/game.final.v2.scores.txt";
        QTest::newRow("no extension") << "/v/game" << "/v/game.scores.txt";
    }

    void logBesideTheRecording()
    {
        QFETCH(QString, recording);
        QFETCH(QString, log);
        QCOMPARE(GameLog::pathBeside(recording), log);
    }
};

QTEST_GUILESS_MAIN(TestChapters)
#include "tst_Chapters.moc"
