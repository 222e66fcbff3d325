// The dock's data-only texts: the score line, the status dot, the server sentence and the
// names of added sources.
#include "live/LiveData.h"
#include "ui/DockText.h"

#include <QJsonDocument>
#include <QTest>

using namespace corvane;

class TestDockText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scoreLine_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("expected");
        const QString dot = QStringLiteral("   \u00b7   ");

        QTest::newRow("no fields") << QByteArray("{}") << QString();
        QTest::newRow("clock only") << QByteArray(R"({"clock":"12:00"})") << QStringLiteral("12:00");
        QTest::newRow("home only") << QByteArray(R"({"home_score":3})") << QStringLiteral("3 \u2013 0");
        QTest::newRow("details in order")
            << QByteArray(R"({"clock":"4:10","home_score":"21","away_score":"17","period":"2","inning":"7"})")
            << QStringLiteral("21 \u2013 17") + dot + QStringLiteral("2") + dot + QStringLiteral("7") + dot + QStringLiteral("4:10");
        QTest::newRow("a volleyball set is a period")
            << QByteArray(R"({"home_score":"2","away_score":"1","set":"3"})")
            << QStringLiteral("2 \u2013 1") + dot + QStringLiteral("3");
        QTest::newRow("unrelated fields, three pairs")
            << QByteArray(R"({"fields":{"a":"1","b":"2","c":"3","d":"4"}})")
            << QStringLiteral("a: 1") + dot + QStringLiteral("b: 2") + dot + QStringLiteral("c: 3");
        QTest::newRow("escaped") << QByteArray(R"({"clock":"<b>&"})") << QStringLiteral("&lt;b&gt;&amp;");
    }

    void scoreLine()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, expected);
        LiveData live;
        live.apply(QJsonDocument::fromJson(message).object());
        QCOMPARE(dockScoreText(live), expected);
    }

    void statusLine()
    {
        QCOMPARE(dockStatusHtml(true, QStringLiteral("Live from <gym>")),
                 QStringLiteral("<span style=\"color:#3cb371\">\u25cf</span> Live from &lt;gym&gt;"));
        QCOMPARE(dockStatusHtml(false, QString()), QStringLiteral("<span style=\"color:#d9a441\">\u25cf</span> Pick a scoreboard above."));
    }

    void chapterHint()
    {
        QVERIFY(dockChapterHint(true).contains(QStringLiteral("Hybrid MP4 and MOV recordings get them as chapter markers")));
        // An OBS without the chapter call must not promise markers.
        QVERIFY(!dockChapterHint(false).contains(QStringLiteral("get them as chapter markers")));
        QVERIFY(dockChapterHint(false).contains(QStringLiteral("This OBS cannot add chapter markers (OBS 30.2 and later can)")));
        for (const bool markers : {true, false})
            QVERIFY(dockChapterHint(markers).contains(QStringLiteral("game log beside it (same name, .scores.txt)")));
    }

    void serverSentence_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("expected");
        QTest::newRow("off") << false << true << false << QStringLiteral("Off.");
        QTest::newRow("loopback") << true << true << false
                                  << QStringLiteral("Connect to 127.0.0.1:9100 and read one JSON line per update. 2 connected.");
        QTest::newRow("network") << true << true << true
                                 << QStringLiteral("Connect to this computer's address:9100 and read one JSON line per update. 2 connected.");
        QTest::newRow("not listening") << true << false << false
                                       << QStringLiteral("Could not start - port 9001 may be in use. Try another port.");
    }

    void serverSentence()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, listening);
        QFETCH(bool, network);
        QFETCH(QString, expected);
        QCOMPARE(dockServerText({enabled, listening, network, 9001, 9100, 2}), expected);
    }

    void sourceNamesCountUp()
    {
        QStringList taken;
        const auto isTaken = [&taken](const QString &name) { return taken.contains(name); };
        for (int i = 0; i < 3; ++i)
            taken << uniqueSourceName(QStringLiteral("Corvane Score"), isTaken);
        QCOMPARE(taken, (QStringList{QStringLiteral("Corvane Score"), QStringLiteral("Corvane Score 2"), QStringLiteral("Corvane Score 3")}));
        taken.removeAt(1);
        QCOMPARE(uniqueSourceName(QStringLiteral("Corvane Score"), isTaken), QStringLiteral("Corvane Score 2"));
    }
};

QTEST_APPLESS_MAIN(TestDockText)
#include "tst_DockText.moc"
