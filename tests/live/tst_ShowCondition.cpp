// The "show when" conditions: each operator, numbers against text, fields not sent, and
// how several conditions combine.
#include "live/ScoreState.h"
#include "live/ShowCondition.h"

#include <QTest>

using namespace corvane;
using Op = ShowCondition::Op;
using Match = ShowCondition::Match;

Q_DECLARE_METATYPE(ShowCondition::Op)
Q_DECLARE_METATYPE(ShowCondition::Match)
Q_DECLARE_METATYPE(QList<corvane::ShowCondition>)

namespace {

ScoreState game()
{
    ScoreState state;
    state.sport = QStringLiteral("basketball");
    state.fields = {{QStringLiteral("possession"), QStringLiteral("home")},
                    {QStringLiteral("home_score"), QStringLiteral("12")},
                    {QStringLiteral("away_score"), QStringLiteral("9")},
                    {QStringLiteral("home_fouls"), QStringLiteral(" 5 ")},
                    {QStringLiteral("clock"), QStringLiteral("4:59")},
                    {QStringLiteral("game_clock"), QStringLiteral("10:00")},
                    {QStringLiteral("shot_clock"), QStringLiteral("8.4")},
                    {QStringLiteral("run_time"), QStringLiteral("1:02:03")},
                    {QStringLiteral("period"), QStringLiteral("2nd")},
                    {QStringLiteral("bonus"), QString()}};
    return state;
}

} // namespace

class TestShowCondition : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneCondition_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("holds");

        QTest::newRow("text equal") << "possession" << Op::Equal << "home" << true;
        QTest::newRow("text equal ignores case and spaces") << "possession" << Op::Equal << " HOME " << true;
        QTest::newRow("text not equal") << "possession" << Op::Equal << "away" << false;
        QTest::newRow("not equal") << "possession" << Op::NotEqual << "away" << true;
        QTest::newRow("not equal, same") << "possession" << Op::NotEqual << "Home" << false;
        QTest::newRow("numbers equal as numbers") << "home_score" << Op::Equal << "12.0" << true;
        QTest::newRow("padded number equals") << "home_fouls" << Op::Equal << "05" << true;
        // As text "9" sorts after "10"; as numbers it is less.
        QTest::newRow("less, numeric not textual") << "away_score" << Op::Less << "10" << true;
        QTest::newRow("greater, numeric not textual") << "away_score" << Op::Greater << "10" << false;
        QTest::newRow("less or equal at the bound") << "home_score" << Op::LessOrEqual << "12" << true;
        QTest::newRow("less at the bound") << "home_score" << Op::Less << "12" << false;
        QTest::newRow("greater or equal at the bound") << "home_fouls" << Op::GreaterOrEqual << "5" << true;
        QTest::newRow("greater") << "home_score" << Op::Greater << "9.5" << true;
        // Clocks compare as durations: as text "10:00" sorts before "1:00" and "4:59" after "10:00".
        QTest::newRow("clock, not text order") << "game_clock" << Op::Less << "1:00" << false;
        QTest::newRow("clock just past") << "game_clock" << Op::Greater << "9:59" << true;
        QTest::newRow("M:SS against MM:SS") << "clock" << Op::Less << "10:00" << true;
        QTest::newRow("same duration written two ways") << "game_clock" << Op::Equal << "0:10:00" << true;
        QTest::newRow("tenths against a clock") << "shot_clock" << Op::Less << "0:09" << true;
        QTest::newRow("hours against minutes") << "run_time" << Op::Greater << "59:59" << true;
        QTest::newRow("text order when neither is a number") << "possession" << Op::Less << "hz" << true;
        QTest::newRow("number against text has no order") << "clock" << Op::Less << "5" << false;
        QTest::newRow("number against text has no order either way") << "clock" << Op::GreaterOrEqual << "5" << false;
        QTest::newRow("empty field has no order") << "bonus" << Op::Less << "3" << false;
        QTest::newRow("field not sent has no order") << "timeouts" << Op::LessOrEqual << "3" << false;
        QTest::newRow("contains") << "period" << Op::Contains << "ND" << true;
        QTest::newRow("does not contain") << "period" << Op::Contains << "rd" << false;
        QTest::newRow("is empty") << "bonus" << Op::IsEmpty << "" << true;
        QTest::newRow("field not sent is empty") << "timeouts" << Op::IsEmpty << "" << true;
        QTest::newRow("is empty, with a value") << "possession" << Op::IsEmpty << "" << false;
        QTest::newRow("is not empty") << "possession" << Op::IsNotEmpty << "" << true;
        QTest::newRow("is not empty, empty field") << "bonus" << Op::IsNotEmpty << "" << false;
        QTest::newRow("field not sent equals empty") << "timeouts" << Op::Equal << "" << true;
        QTest::newRow("infinity is not a number") << "home_score" << Op::Less << "inf" << false;
        QTest::newRow("sport is the live sport") << "sport" << Op::Equal << "Basketball" << true;
        QTest::newRow("field name spaces ignored") << " possession " << Op::Equal << "home" << true;
    }

    void oneCondition()
    {
        QFETCH(QString, field);
        QFETCH(Op, op);
        QFETCH(QString, value);
        QFETCH(bool, holds);
        const ShowCondition condition{field, op, value};
        QCOMPARE(condition.holds(game()), holds);
    }

    void combined_data()
    {
        QTest::addColumn<QList<ShowCondition>>("conditions");
        QTest::addColumn<Match>("match");
        QTest::addColumn<bool>("holds");

        const ShowCondition yes{QStringLiteral("possession"), Op::Equal, QStringLiteral("home")};
        const ShowCondition no{QStringLiteral("possession"), Op::Equal, QStringLiteral("away")};
        const ShowCondition unused{QString(), Op::Equal, QStringLiteral("away")};

        QTest::newRow("all, all hold") << QList<ShowCondition>{yes, yes} << Match::All << true;
        QTest::newRow("all, one fails") << QList<ShowCondition>{yes, no} << Match::All << false;
        QTest::newRow("any, one holds") << QList<ShowCondition>{no, yes} << Match::Any << true;
        QTest::newRow("any, none holds") << QList<ShowCondition>{no, no} << Match::Any << false;
        QTest::newRow("unused rows left out of all") << QList<ShowCondition>{yes, unused} << Match::All << true;
        QTest::newRow("unused rows left out of any") << QList<ShowCondition>{unused, no} << Match::Any << false;
        QTest::newRow("no condition, all") << QList<ShowCondition>{} << Match::All << true;
        QTest::newRow("only unused rows, any") << QList<ShowCondition>{unused} << Match::Any << true;
    }

    void combined()
    {
        QFETCH(QList<ShowCondition>, conditions);
        QFETCH(Match, match);
        QFETCH(bool, holds);
        QCOMPARE(ShowCondition::allHold(conditions, match, game()), holds);
    }

    void operatorKeysRoundTrip()
    {
        // The properties and stored settings name operators by key; a key that names the
        // wrong one would silently change what a saved filter tests.
        QStringList keys;
        for (Op op : ShowCondition::allOps()) {
            Op read = op == Op::Equal ? Op::NotEqual : Op::Equal;
            QVERIFY2(ShowCondition::fromKey(ShowCondition::key(op), &read), qPrintable(ShowCondition::key(op)));
            QCOMPARE(read, op);
            keys << ShowCondition::key(op);
        }
        QCOMPARE(keys.size(), 9);
        QCOMPARE(ShowCondition::label(Op::GreaterOrEqual), QString::fromUtf8("\u2265"));
        Op untouched = Op::Contains;
        QVERIFY(!ShowCondition::fromKey(QStringLiteral("="), &untouched));
        QCOMPARE(untouched, Op::Contains);
    }
};

QTEST_GUILESS_MAIN(TestShowCondition)
#include "tst_ShowCondition.moc"
