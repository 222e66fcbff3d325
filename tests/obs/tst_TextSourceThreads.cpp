// corvane_text sources are created, updated and destroyed on OBS's threads while live data
// is applied on another. Nothing may crash, race or refresh a destroyed source; the tsan
// preset runs this under ThreadSanitizer.
#include "app/App.h"
#include "obs/ObsFixture.h"
#include "obs/TextSource.h"

#include <obs.h>

#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

obs_source_t *createText(const char *templateText)
{
    obs_data_t *settings = obs_data_create();
    obs_data_set_string(settings, "template", templateText);
    obs_source_t *source = obs_source_create_private("corvane_text", "threads", settings);
    obs_data_release(settings);
    return source;
}

QString childText(obs_source_t *source)
{
    obs_data_t *settings = obs_source_get_settings(static_cast<TextSource *>(obs_obj_get_data(source))->child);
    const QString value = QString::fromUtf8(obs_data_get_string(settings, "text"));
    obs_data_release(settings);
    return value;
}

} // namespace

class TestTextSourceThreads : public QObject {
    Q_OBJECT
private:
    test::ObsFixture obs;

private Q_SLOTS:
    void initTestCase()
    {
        const QString failed = obs.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase() { obs.stop(); }

    void destroyWhileLiveDataIsApplied()
    {
        LiveData &live = App::instance()->live();
        obs_source_t *steady = createText("{home_score}:{away_score}");
        QVERIFY(steady);

        std::atomic<bool> stop{false};
        std::atomic<int> applied{0};
        // The writer plays OBS's user-interface thread: it applies live data (which refreshes
        // every source on this thread) and now and then asks for an update of the steady
        // source, which OBS then runs on its video thread alongside the refreshes. (No new
        // settings with it: libobs itself does not guard a source's settings against being
        // written while its deferred update reads them.)
        std::thread writer([&] {
            for (int i = 1; !stop.load(); ++i) {
                const QString n = QString::number(i);
                live.apply({{QStringLiteral("home_score"), n}, {QStringLiteral("away_score"), n}});
                if (i % 20 == 0)
                    obs_source_update(steady, nullptr);
                applied.store(i);
            }
        });

        // Meanwhile sources come and go on this thread; OBS destroys them on its own.
        int created = 0;
        for (int round = 0; round < 60 || applied.load() < 2000; ++round) {
            std::vector<obs_source_t *> batch;
            for (int i = 0; i < 6; ++i) {
                batch.push_back(createText(i % 2 ? "{home_score}" : "{away_score} {sport}"));
                ++created;
            }
            QTest::qWait(1);
            for (obs_source_t *source : batch)
                obs_source_release(source);
            if (round % 10 == 0)
                obs_wait_for_destroy_queue();
            if (round > 2000)
                break;
        }
        stop = true;
        writer.join();
        // Every released source has left the registry; only the steady one is refreshed.
        QTRY_COMPARE_WITH_TIMEOUT(TextSource::registeredCount(), std::size_t(1), 30000);

        QVERIFY(applied.load() >= 2000);
        QVERIFY(created >= 360);
        const QString last = QString::number(applied.load());
        QTRY_COMPARE(childText(steady), last + QLatin1Char(':') + last);
        obs_source_release(steady);
        QTRY_COMPARE_WITH_TIMEOUT(TextSource::registeredCount(), std::size_t(0), 30000);
        // Let the queued broadcasts of the hosted server drain on this thread.
        QCoreApplication::processEvents();
    }
};

QTEST_GUILESS_MAIN(TestTextSourceThreads)
#include "tst_TextSourceThreads.moc"
