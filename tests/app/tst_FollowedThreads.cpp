// A followed device unfollowed while its updates arrive and OBS's threads read it: readers
// keep what they hold, the device left keeps its data and hold, nothing races (also run
// under ThreadSanitizer).
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "support/TestSettings.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

const QString kFirst = QStringLiteral("CV-1");
const QString kSecond = QStringLiteral("CV-2");

QJsonObject score(int home)
{
    return {{QStringLiteral("sport"), QStringLiteral("hockey")},
            {QStringLiteral("fields"), QJsonObject{{QStringLiteral("home_score"), home}, {QStringLiteral("away_score"), 1}}}};
}

} // namespace

class TestFollowedThreads : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void unfollowWhileUpdatesArriveAndOtherThreadsRead()
    {
        QTemporaryDir dir;
        const QString settings = dir.filePath(QStringLiteral("settings.json"));
        QVERIFY(corvane::test::writeTestSettings(settings));
        App app({settings, dir.filePath(QStringLiteral("session.json"))});
        QVERIFY(app.followDevice({kFirst, FollowedRoute::Cloud}));
        QVERIFY(app.followDevice({kSecond, FollowedRoute::Cloud}));

        std::atomic<bool> stop{false};
        std::atomic<int> reads{0};
        std::vector<std::thread> readers;
        for (int i = 0; i < 2; ++i) {
            readers.emplace_back([&app, &stop, &reads] {
                while (!stop.load()) {
                    for (const QString &id : {kFirst, kSecond, QString()}) {
                        const std::shared_ptr<ShownScores> shown = app.shownScoresOf(id);
                        if (shown && shown->state().value(QStringLiteral("home_score")).toInt() >= 0)
                            reads.fetch_add(1);
                    }
                }
            });
        }
        const std::weak_ptr<DeviceLive> gone = app.followed()->dataOf(kFirst);
        for (int i = 0; i < 400; ++i) {
            for (const QString &id : {kFirst, kSecond}) {
                if (LiveData *live = app.liveOf(id))
                    live->apply(score(i));
            }
            if (i == 100)
                QVERIFY(app.followed()->unfollow(kFirst));
            if (i % 50 == 0)
                app.shownOf(kSecond)->setHeld(i % 100 == 0);
            QCoreApplication::processEvents();
        }
        QVERIFY(QTest::qWaitFor([&] { return reads.load() > 1000; }, 10000));
        stop = true;
        for (std::thread &reader : readers)
            reader.join();

        QVERIFY(QTest::qWaitFor([&] { return gone.expired(); }, 5000));
        QVERIFY(app.liveOf(kFirst) == nullptr);
        QCOMPARE(app.liveOf(kSecond)->value(QStringLiteral("home_score")), QStringLiteral("399"));
        QVERIFY(app.live().fieldNames().isEmpty());
        QCOMPARE(app.followed()->ids(), QStringList{kSecond});
    }
};

QTEST_GUILESS_MAIN(TestFollowedThreads)
#include "tst_FollowedThreads.moc"
