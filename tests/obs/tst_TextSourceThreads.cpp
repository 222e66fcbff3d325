// corvane_text sources are created, updated and destroyed on OBS's threads while live data
// is applied on another. Nothing may crash, race or refresh a destroyed source; the tsan
// preset runs this under ThreadSanitizer.
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "obs/ObsFixture.h"
#include "obs/TextSource.h"

#include <obs.h>

#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

obs_source_t *createText(const char *templateText, const char *device = "")
{
    obs_data_t *settings = obs_data_create();
    obs_data_set_string(settings, "template", templateText);
    obs_data_set_string(settings, "device", device);
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

    // obs-websocket asks for a source's properties (its Device list and field hints) on its
    // own threads while the dock follows and unfollows devices on this one.
    void propertiesWhileDevicesComeAndGo()
    {
        App *app = App::instance();
        obs_source_t *bound = createText("{home_score}", "CV-T1");
        QVERIFY(bound);
        std::atomic<bool> stop{false};
        std::atomic<int> asked{0};
        std::thread reader([&] {
            while (!stop.load()) {
                obs_properties_t *props = obs_source_properties(bound);
                if (obs_property_list_item_count(obs_properties_get(props, "device")) >= 2)
                    asked.fetch_add(1);
                obs_properties_destroy(props);
            }
        });
        for (int round = 0; round < 600 || asked.load() < 100; ++round) {
            QVERIFY(app->followDevice({QStringLiteral("CV-T1"), FollowedRoute::Cloud}));
            QVERIFY(app->followDevice({QStringLiteral("CV-T2"), FollowedRoute::Cloud}));
            app->liveOf(QStringLiteral("CV-T1"))->apply({{QStringLiteral("home_score"), round}});
            QCoreApplication::processEvents();
            QVERIFY(app->followed()->unfollow(QStringLiteral("CV-T1")));
            QVERIFY(app->followed()->unfollow(QStringLiteral("CV-T2")));
            // Runs the deferred deletions of the devices just unfollowed.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (round > 5000)
                break;
        }
        stop = true;
        reader.join();
        QVERIFY(asked.load() >= 100);
        obs_source_release(bound);
        QTRY_COMPARE_WITH_TIMEOUT(TextSource::registeredCount(), std::size_t(0), 30000);
    }
};

QTEST_GUILESS_MAIN(TestTextSourceThreads)
#include "tst_TextSourceThreads.moc"
