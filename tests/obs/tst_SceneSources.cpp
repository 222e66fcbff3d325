// The dock's "add to this scene" in a real libobs scene: names count up past the ones taken.
#include "obs/ObsFixture.h"
#include "ui/ObsFrontend.h"

#include <obs.h>

#include <QTest>

using namespace corvane;

class TestSceneSources : public QObject {
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

    void scoreTextAddedThreeTimes()
    {
        obs_scene_t *scene = obs_scene_create("adding");
        for (int i = 0; i < 3; ++i)
            QVERIFY(ObsFrontend::addSourceToScene(scene, "corvane_text", QStringLiteral("Corvane Score")));
        QStringList names;
        obs_scene_enum_items(
            scene,
            [](obs_scene_t *, obs_sceneitem_t *item, void *param) {
                obs_source_t *source = obs_sceneitem_get_source(item);
                static_cast<QStringList *>(param)->append(QString::fromUtf8(obs_source_get_name(source)));
                if (QByteArray(obs_source_get_id(source)) != "corvane_text")
                    static_cast<QStringList *>(param)->append(QStringLiteral("wrong type"));
                obs_data_t *settings = obs_source_get_settings(source);
                if (QByteArray(obs_data_get_string(settings, "template")) != "{home_score} - {away_score}")
                    static_cast<QStringList *>(param)->append(QStringLiteral("wrong template"));
                obs_data_release(settings);
                return true;
            },
            &names);
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("Corvane Score"), QStringLiteral("Corvane Score 2"), QStringLiteral("Corvane Score 3")}));
        // Removed first: OBS 32's main canvas keeps a scene of its own until it is removed.
        obs_source_remove(obs_scene_get_source(scene));
        obs_scene_release(scene);
    }
};

QTEST_GUILESS_MAIN(TestSceneSources)
#include "tst_SceneSources.moc"
