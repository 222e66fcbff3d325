// OBS renders text sources on its own threads while the user-interface thread applies live
// messages. Readers must never see a torn snapshot, and nothing may race; the tsan preset
// runs this under ThreadSanitizer.
#include "live/LiveData.h"

#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace corvane;

class TestLiveDataThreads : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readersSeeWholeMessages()
    {
        LiveData live;
        int changes = 0;
        connect(&live, &LiveData::changed, this, [&changes] { ++changes; });

        std::atomic<bool> done{false};
        std::atomic<int> torn{0};
        std::atomic<long> reads{0};
        std::vector<std::thread> readers;
        for (int r = 0; r < 4; ++r) {
            readers.emplace_back([&] {
                while (!done.load()) {
                    const QJsonObject fields = live.snapshot().value(QStringLiteral("fields")).toObject();
                    // Every message sets both scores to the same value: a snapshot that
                    // disagrees saw half a message.
                    if (fields.value(QStringLiteral("home_score")) != fields.value(QStringLiteral("away_score")))
                        ++torn;
                    live.value(QStringLiteral("clock"));
                    live.fieldNames();
                    live.sport();
                    ++reads;
                }
            });
        }

        const int messages = 5000;
        for (int i = 1; i <= messages; ++i) {
            const QString n = QString::number(i);
            live.apply({{QStringLiteral("home_score"), n},
                        {QStringLiteral("away_score"), n},
                        {QStringLiteral("clock"), i % 600},
                        {QStringLiteral("sport"), i % 2 ? QStringLiteral("hockey") : QStringLiteral("soccer")}});
            if (i % 1000 == 0)
                live.clear();
        }
        // Keep the writer going until every reader has had a fair number of turns.
        for (int i = 0; reads.load() < 2000 && i < 100000; ++i)
            live.apply({{QStringLiteral("home_score"), i}, {QStringLiteral("away_score"), i}});
        done = true;
        for (auto &t : readers)
            t.join();

        QCOMPARE(torn.load(), 0);
        QVERIFY(reads.load() >= 2000);
        QVERIFY(changes >= messages);
    }
};

QTEST_GUILESS_MAIN(TestLiveDataThreads)
#include "tst_LiveDataThreads.moc"
