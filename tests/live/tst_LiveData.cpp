#include "base/Log.h"
#include "live/LiveData.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace corvane;

namespace {

QJsonObject json(const char *text)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", text);
    return doc.object();
}

// Records the signals of one LiveData in the order they were emitted.
struct SignalLog {
    explicit SignalLog(LiveData &live)
    {
        QObject::connect(&live, &LiveData::changed, [this] { events << QStringLiteral("changed"); });
        QObject::connect(&live, &LiveData::fieldsChanged,
                         [this](const QStringList &names) { events << QStringLiteral("fields:") + names.join(QLatin1Char(',')); });
        QObject::connect(&live, &LiveData::sourceChanged, [this] { events << QStringLiteral("source"); });
    }
    QStringList take() { return std::exchange(events, {}); }
    QStringList events;
};

QStringList g_log;
void captureLog(LogLevel, const char *line) { g_log << QString::fromUtf8(line); }

// The bounds on what a feed may make the model keep: far above any real scoreboard.
constexpr int kMaxFields = 1024;
constexpr int kMaxName = 256;
constexpr int kMaxValue = 4096;

QJsonObject manyFields(int count, const QString &prefix)
{
    QJsonObject fields;
    for (int i = 0; i < count; ++i)
        fields.insert(prefix + QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')), i);
    return QJsonObject{{QStringLiteral("fields"), fields}};
}

} // namespace

class TestLiveData : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void snapshotJsonFollowsEveryChange()
    {
        LiveData live;
        const auto compact = [&] { return QJsonDocument(live.snapshot()).toJson(QJsonDocument::Compact); };
        QCOMPARE(live.snapshotJson(), compact());
        live.apply({{QStringLiteral("home_score"), 1}});
        QCOMPARE(live.snapshotJson(), compact());
        // Asked again without a change: the same bytes, not a second serialisation.
        QCOMPARE(live.snapshotJson().constData(), live.snapshotJson().constData());
        live.setSource(QStringLiteral("Gym"));
        QCOMPARE(live.snapshotJson(), compact());
        QVERIFY(live.snapshotJson().contains("\"source\":\"Gym\""));
        live.apply({{QStringLiteral("home_score"), 2}});
        QCOMPARE(live.snapshotJson(), compact());
        live.clear();
        QCOMPARE(live.snapshotJson(), compact());
    }

    void heartbeatRefreshesTimeOnly()
    {
        LiveData live;
        SignalLog log(live);
        QVERIFY(!live.updatedAt().isValid());
        QVERIFY(live.apply(json(R"({"type":"heartbeat","seq":7,"ts_ms":1,"online":true,"fw_version":"1.2","transport":"usb"})")));
        QVERIFY(live.fieldNames().isEmpty());
        QVERIFY(log.take().isEmpty());
        QVERIFY(live.updatedAt().isValid());
        QVERIFY(qAbs(live.updatedAt().secsTo(QDateTime::currentDateTimeUtc())) <= 1);
        QCOMPARE(live.updatedAt().timeSpec(), Qt::UTC);
    }

    void rejectedMessagesChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("empty") << QByteArray("{}");
        QTest::newRow("config") << QByteArray(R"({"type":"config","home_score":3})");
        QTest::newRow("pending") << QByteArray(R"({"type":"pending","fields":{"home_score":3}})");
    }
    void rejectedMessagesChangeNothing()
    {
        QFETCH(QByteArray, message);
        LiveData live;
        SignalLog log(live);
        QVERIFY(!live.apply(json(message.constData())));
        QVERIFY(!live.updatedAt().isValid());
        QVERIFY(live.fieldNames().isEmpty());
        QVERIFY(log.take().isEmpty());
    }

    void acceptedTypes_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("state") << QByteArray(R"({"type":"state","fields":{"home_score":1}})");
        QTest::newRow("auth_ok") << QByteArray(R"({"type":"auth_ok","home_score":1})");
        QTest::newRow("empty type") << QByteArray(R"({"type":"","home_score":1})");
        QTest::newRow("non-string type") << QByteArray(R"({"type":5,"home_score":1})");
    }
    void acceptedTypes()
    {
        QFETCH(QByteArray, message);
        LiveData live;
        QVERIFY(live.apply(json(message.constData())));
        QCOMPARE(live.value(QStringLiteral("home_score")), QStringLiteral("1"));
    }

    void flatMessageSignalsNewNamesOnce()
    {
        LiveData live;
        SignalLog log(live);
        QVERIFY(live.apply(json(R"({"home_score":12,"away_score":9})")));
        QCOMPARE(live.value(QStringLiteral("home_score")), QStringLiteral("12"));
        QCOMPARE(live.value(QStringLiteral("away_score")), QStringLiteral("9"));
        QCOMPARE(log.take(), QStringList({QStringLiteral("fields:away_score,home_score"), QStringLiteral("changed")}));
        QVERIFY(live.apply(json(R"({"home_score":12,"away_score":9})")));
        QVERIFY(log.take().isEmpty());
        QVERIFY(live.apply(json(R"({"home_score":13})")));
        QCOMPARE(log.take(), QStringList({QStringLiteral("changed")}));
        QVERIFY(live.apply(json(R"({"period":"2"})")));
        QCOMPARE(log.take(), QStringList({QStringLiteral("fields:period"), QStringLiteral("changed")}));
        QCOMPARE(live.value(QStringLiteral("away_score")), QStringLiteral("9"));
    }

    void fieldTextConversion_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fraction") << QByteArray("5.25") << QStringLiteral("5.25");
        QTest::newRow("integer") << QByteArray("300") << QStringLiteral("300");
        QTest::newRow("integral double") << QByteArray("3.0") << QStringLiteral("3");
        QTest::newRow("six digits") << QByteArray("12.345678") << QStringLiteral("12.3457");
        QTest::newRow("half") << QByteArray("0.5") << QStringLiteral("0.5");
        QTest::newRow("negative") << QByteArray("-4") << QStringLiteral("-4");
        QTest::newRow("negative zero") << QByteArray("-0.0") << QStringLiteral("0");
        QTest::newRow("large integer") << QByteArray("1e20") << QStringLiteral("100000000000000000000");
        QTest::newRow("tiny") << QByteArray("0.0000123") << QStringLiteral("1.23e-05");
        QTest::newRow("true") << QByteArray("true") << QStringLiteral("true");
        QTest::newRow("false") << QByteArray("false") << QStringLiteral("false");
        QTest::newRow("null") << QByteArray("null") << QString();
        QTest::newRow("string") << QByteArray(R"(" 07:32 ")") << QStringLiteral(" 07:32 ");
        QTest::newRow("unicode") << QByteArray(R"("Üllö – 5")") << QStringLiteral("Üllö – 5");
    }
    void fieldTextConversion()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        LiveData live;
        QVERIFY(live.apply(json(QByteArray(R"({"fields":{"clock":)" + value + "}}").constData())));
        QVERIFY(live.fieldNames().contains(QStringLiteral("clock")));
        QCOMPARE(live.value(QStringLiteral("clock")), expected);
    }

    void reservedKeysAndNestedValuesAreNotFields()
    {
        LiveData live;
        SignalLog log(live);
        QVERIFY(live.apply(json(R"({"type":"state","seq":1,"ts_ms":2,"v":3,"sport":"hockey","online":true,
            "device_ts_ms":4,"fw_version":"x","transport":"usb","clock":[1,2],"period":{},"home_score":1})")));
        QCOMPARE(live.fieldNames(), QStringList({QStringLiteral("home_score")}));
        QCOMPARE(live.sport(), QStringLiteral("hockey"));
        QCOMPARE(log.take(), QStringList({QStringLiteral("fields:home_score"), QStringLiteral("changed")}));

        // Reserved keys are skipped inside "fields" too.
        QVERIFY(live.apply(json(R"({"fields":{"seq":9,"sport":"golf","clock":[1,2],"period":{}}})")));
        QCOMPARE(live.fieldNames(), QStringList({QStringLiteral("home_score")}));
        QCOMPARE(live.sport(), QStringLiteral("hockey"));
        QVERIFY(log.take().isEmpty());
    }

    void fieldsObjectChoice()
    {
        LiveData live;
        QVERIFY(live.apply(json(R"({"data":{"period":"2"},"fields":3})")));
        QCOMPARE(live.fieldNames(), QStringList({QStringLiteral("period")}));
        QVERIFY(live.apply(json(R"({"data":{"period":"3"},"fields":{"quarter":"4"}})")));
        QCOMPARE(live.value(QStringLiteral("period")), QStringLiteral("2"));
        QCOMPARE(live.value(QStringLiteral("quarter")), QStringLiteral("4"));
        // A flat message whose "data" is not an object stores it as a field.
        QVERIFY(live.apply(json(R"({"data":"x","fields":null})")));
        QCOMPARE(live.value(QStringLiteral("data")), QStringLiteral("x"));
        QCOMPARE(live.value(QStringLiteral("fields")), QString());
        QVERIFY(live.fieldNames().contains(QStringLiteral("fields")));
    }

    void sportChanges()
    {
        LiveData live;
        SignalLog log(live);
        QVERIFY(live.apply(json(R"({"sport":"basketball"})")));
        QCOMPARE(log.take(), QStringList({QStringLiteral("changed")}));
        QVERIFY(live.apply(json(R"({"sport":""})")));
        QVERIFY(live.apply(json(R"({"sport":7})")));
        QCOMPARE(live.sport(), QStringLiteral("basketball"));
        QVERIFY(log.take().isEmpty());
        QVERIFY(live.apply(json(R"({"sport":"soccer"})")));
        QCOMPARE(live.sport(), QStringLiteral("soccer"));
        QCOMPARE(log.take(), QStringList({QStringLiteral("changed")}));
    }

    void namesAreOrderedByCodeUnits()
    {
        LiveData live;
        QVERIFY(live.apply(json(R"({"b":1,"B":2,"a":3,"_":4,"Z":5})")));
        QCOMPARE(live.fieldNames(), QStringList({QStringLiteral("B"), QStringLiteral("Z"), QStringLiteral("_"),
                                                 QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(live.value(QStringLiteral("missing")), QString());
    }

    void clearForgetsAllButSource()
    {
        LiveData live;
        SignalLog log(live);
        live.clear();
        QVERIFY(log.take().isEmpty());

        live.setSource(QStringLiteral("Gym (CV-1)"));
        QCOMPARE(log.take(), QStringList({QStringLiteral("source")}));
        live.setSource(QStringLiteral("Gym (CV-1)"));
        QVERIFY(log.take().isEmpty());

        QVERIFY(live.apply(json(R"({"sport":"hockey","home_score":1})")));
        log.take();
        live.clear();
        QCOMPARE(log.take(), QStringList({QStringLiteral("fields:"), QStringLiteral("changed")}));
        QVERIFY(live.fieldNames().isEmpty());
        QCOMPARE(live.sport(), QString());
        QVERIFY(!live.updatedAt().isValid());
        QCOMPARE(live.source(), QStringLiteral("Gym (CV-1)"));

        // A sport alone still counts as content to clear.
        QVERIFY(live.apply(json(R"({"sport":"hockey"})")));
        log.take();
        live.clear();
        QCOMPARE(log.take(), QStringList({QStringLiteral("fields:"), QStringLiteral("changed")}));
    }

    // A feed that keeps inventing names or sends huge texts must not grow the model (and
    // with it every snapshot and hosted client's line) without end.
    void boundsDropWhatIsBeyond_data()
    {
        QTest::addColumn<QJsonObject>("message");
        QTest::addColumn<int>("fieldCount");
        QTest::addColumn<QString>("absent");
        QTest::addColumn<QString>("present");
        const QString longest(kMaxName, QLatin1Char('n'));
        const QString tooLong(kMaxName + 1, QLatin1Char('n'));
        QTest::newRow("too many names") << manyFields(kMaxFields + 5, QStringLiteral("f")) << kMaxFields
                                        << QStringLiteral("f%1").arg(kMaxFields, 5, 10, QLatin1Char('0'))
                                        << QStringLiteral("f%1").arg(kMaxFields - 1, 5, 10, QLatin1Char('0'));
        QTest::newRow("name too long") << QJsonObject{{tooLong, 1}, {longest, 2}} << 1 << tooLong << longest;
        QTest::newRow("value too long") << QJsonObject{{QStringLiteral("a"), QString(kMaxValue + 1, QLatin1Char('v'))},
                                                       {QStringLiteral("b"), QString(kMaxValue, QLatin1Char('v'))}}
                                        << 1 << QStringLiteral("a") << QStringLiteral("b");
    }
    void boundsDropWhatIsBeyond()
    {
        QFETCH(QJsonObject, message);
        QFETCH(int, fieldCount);
        QFETCH(QString, absent);
        QFETCH(QString, present);
        g_log.clear();
        const LogSink previous = setLogSink(captureLog);
        LiveData live;
        QVERIFY(live.apply(message));
        QCOMPARE(live.fieldNames().size(), fieldCount);
        QVERIFY(!live.fieldNames().contains(absent));
        QVERIFY(live.fieldNames().contains(present));
        // The same excess again is the same run of drops: still one line.
        QVERIFY(live.apply(message));
        QCOMPARE(g_log.size(), 1);
        QVERIFY2(g_log.first().startsWith(QStringLiteral("[corvane] live data beyond")), qPrintable(g_log.first()));
        // A message within bounds ends the run; the next excess is logged again.
        QVERIFY(live.apply(QJsonObject{{present, QStringLiteral("again")}}));
        QCOMPARE(live.value(present), QStringLiteral("again"));
        QVERIFY(live.apply(message));
        setLogSink(previous);
        QCOMPARE(g_log.size(), 2);
    }

    void boundsKeepKnownFieldsUpdating()
    {
        LiveData live;
        const LogSink previous = setLogSink(captureLog);
        QVERIFY(live.apply(manyFields(kMaxFields, QStringLiteral("f"))));
        QVERIFY(live.apply(QJsonObject{{QStringLiteral("f00000"), QStringLiteral("new")},
                                       {QStringLiteral("late"), 1},
                                       {QStringLiteral("f00001"), QString(kMaxValue + 1, QLatin1Char('v'))}}));
        setLogSink(previous);
        QCOMPARE(live.value(QStringLiteral("f00000")), QStringLiteral("new"));
        QCOMPARE(live.value(QStringLiteral("f00001")), QStringLiteral("1")); // an oversized value leaves the old one
        QVERIFY(!live.fieldNames().contains(QStringLiteral("late")));
        // A sport is a value too.
        QVERIFY(live.apply(QJsonObject{{QStringLiteral("sport"), QString(kMaxValue + 1, QLatin1Char('s'))}}));
        QCOMPARE(live.sport(), QString());
        // clear() makes room again.
        live.clear();
        QVERIFY(live.apply(QJsonObject{{QStringLiteral("late"), 1}}));
        QCOMPARE(live.value(QStringLiteral("late")), QStringLiteral("1"));
    }

    void snapshotForm()
    {
        LiveData live;
        live.setSource(QStringLiteral("CV-7"));
        QCOMPARE(live.snapshot(), json(R"({"sport":"","fields":{},"source":"CV-7","updated_at":""})"));

        QVERIFY(live.apply(json(R"({"sport":"volleyball","fields":{"home_score":2,"set":"3"}})")));
        const QJsonObject snap = live.snapshot();
        QCOMPARE(snap.value(QStringLiteral("sport")).toString(), QStringLiteral("volleyball"));
        QCOMPARE(snap.value(QStringLiteral("fields")).toObject(),
                 json(R"({"home_score":"2","set":"3"})"));
        QCOMPARE(snap.value(QStringLiteral("source")).toString(), QStringLiteral("CV-7"));
        const QString stamp = snap.value(QStringLiteral("updated_at")).toString();
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$)")).match(stamp).hasMatch(),
                 qPrintable(stamp));
        QCOMPARE(QDateTime::fromString(stamp, Qt::ISODate), live.updatedAt().addMSecs(-live.updatedAt().time().msec()));
    }
};

QTEST_GUILESS_MAIN(TestLiveData)
#include "tst_LiveData.moc"
