#include "live/LiveData.h"
#include "live/TextTemplate.h"

#include <QTest>

using namespace corvane;

class TestTextTemplate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rendersFromLiveFields_data()
    {
        QTest::addColumn<QString>("templateText");
        QTest::addColumn<QString>("expected");

        QTest::newRow("adjacent") << QStringLiteral("{home_score}:{away_score}") << QStringLiteral("3:1");
        QTest::newRow("back to back") << QStringLiteral("{home_score}{away_score}{home_score}") << QStringLiteral("313");
        QTest::newRow("unknown name is empty") << QStringLiteral("Q{quarter} {clock}") << QStringLiteral("Q 4:59");
        QTest::newRow("braces that are not placeholders")
            << QStringLiteral("{} {home-score} {{home_score}}") << QStringLiteral("{} {home-score} {3}");
        QTest::newRow("name with a space") << QStringLiteral("{home score}") << QStringLiteral("{home score}");
        QTest::newRow("lone braces") << QStringLiteral("{ home_score } } {") << QStringLiteral("{ home_score } } {");
        QTest::newRow("unclosed then placeholder") << QStringLiteral("{home_score{away_score}") << QStringLiteral("{home_score1");
        QTest::newRow("sport is the live sport") << QStringLiteral("{sport}") << QStringLiteral("hockey");
        QTest::newRow("names are case-sensitive") << QStringLiteral("{Home_Score}|{home_score}") << QStringLiteral("|3");
        QTest::newRow("non-ASCII text around") << QStringLiteral("Heim \u00e4 {home_score} \u2014 {away_score}")
                                               << QStringLiteral("Heim \u00e4 3 \u2014 1");
        QTest::newRow("empty template") << QString() << QString();
        QTest::newRow("no placeholder") << QStringLiteral("Final") << QStringLiteral("Final");
    }

    void rendersFromLiveFields()
    {
        QFETCH(QString, templateText);
        QFETCH(QString, expected);
        LiveData live;
        // A field literally named "sport" must not shadow the live sport.
        QVERIFY(live.apply({{QStringLiteral("sport"), QStringLiteral("hockey")},
                            {QStringLiteral("fields"),
                             QJsonObject{{QStringLiteral("home_score"), 3},
                                         {QStringLiteral("away_score"), 1},
                                         {QStringLiteral("clock"), QStringLiteral("4:59")}}}}));
        QCOMPARE(renderTemplate(templateText, &live), expected);
    }

    void fieldValuesAreInsertedVerbatim()
    {
        // A value that looks like a placeholder is not expanded a second time.
        LiveData live;
        live.apply({{QStringLiteral("home_score"), QStringLiteral("{away_score}")}, {QStringLiteral("away_score"), 7}});
        QCOMPARE(renderTemplate(QStringLiteral("{home_score}-{away_score}"), &live), QStringLiteral("{away_score}-7"));
    }

    void withoutLiveDataEveryPlaceholderIsEmpty()
    {
        QCOMPARE(renderTemplate(QStringLiteral("{home_score} - {away_score} ({sport}) {}"), nullptr), QStringLiteral(" -  () {}"));
    }
};

QTEST_GUILESS_MAIN(TestTextTemplate)
#include "tst_TextTemplate.moc"
