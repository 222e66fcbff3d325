// Holding the shown scores: while held, updates leave what is shown alone; resuming shows
// the latest state at once.
#include "live/LiveData.h"
#include "live/ShownScores.h"

#include <QSignalSpy>
#include <QTest>

using namespace corvane;

class TestShownScores : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void holdKeepsTheLastStateAndResumeShowsTheLatest()
    {
        LiveData live;
        ShownScores shown(&live);
        QSignalSpy changed(&shown, &ShownScores::changed);
        QSignalSpy held(&shown, &ShownScores::heldChanged);

        live.apply({{QStringLiteral("home_score"), 1}, {QStringLiteral("away_score"), 0}});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(shown.state().value(QStringLiteral("home_score")), QStringLiteral("1"));

        shown.hold();
        shown.hold();
        QCOMPARE(held.size(), 1);
        QVERIFY(shown.isHeld());
        live.apply({{QStringLiteral("home_score"), 2}, {QStringLiteral("period"), 2}});
        live.clear();
        live.apply({{QStringLiteral("home_score"), 3}});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(shown.state().value(QStringLiteral("home_score")), QStringLiteral("1"));
        QCOMPARE(shown.state().value(QStringLiteral("away_score")), QStringLiteral("0"));

        shown.resume();
        QCOMPARE(held.size(), 2);
        QCOMPARE(held.last().at(0).toBool(), false);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(shown.state(), live.state());
        QCOMPARE(shown.state().value(QStringLiteral("home_score")), QStringLiteral("3"));

        shown.resume();
        QCOMPARE(changed.size(), 2);
        live.apply({{QStringLiteral("home_score"), 4}});
        QCOMPARE(changed.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestShownScores)
#include "tst_ShownScores.moc"
