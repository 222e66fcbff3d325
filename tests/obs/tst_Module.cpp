#include "app/App.h"
#include "cloud/PortalClientJar.h"
#include "obs/Module.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QPointer>
#include <QTest>

using namespace corvane;

class TestModule : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadingTwiceKeepsTheFirstApp()
    {
        QTemporaryDir dir;
        QFile settings(dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        // Sign-in restore goes to a closed local port rather than the real portal.
        settings.write(QJsonDocument(QJsonObject{{QStringLiteral("server_port"), 9123},
                                                 {QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:9")}})
                           .toJson());
        settings.close();

        int asked = 0;
        const auto environment = [&] {
            ++asked;
            return AppEnvironment{dir.filePath(QStringLiteral("settings.json")), dir.filePath(QStringLiteral("session.json"))};
        };
        QVERIFY(!App::instance());
        QVERIFY(Module::load(environment));
        App *first = App::instance();
        QVERIFY(first);
        QCOMPARE(first->settings().serverPort(), 9123);
        QCOMPARE(first->portal().jar().path(), dir.filePath(QStringLiteral("session.json")));

        QVERIFY(Module::load(environment));
        QCOMPARE(App::instance(), first);
        QCOMPARE(asked, 1);

        QPointer<QObject> child = new QObject(first);
        // OBS threads may look at the instance at any moment of the unload: while App is being
        // destroyed they must already find none.
        bool instanceGoneFirst = false;
        QObject::connect(child, &QObject::destroyed, [&] { instanceGoneFirst = App::instance() == nullptr; });
        Module::unload();
        QVERIFY(!App::instance());
        QVERIFY(child.isNull());
        QVERIFY(instanceGoneFirst);

        QVERIFY(Module::load(environment));
        QVERIFY(App::instance());
        QCOMPARE(asked, 2);
        Module::unload();
    }

    void missingTextReadsAsKey()
    {
        QCOMPARE(QByteArray(Module::text("CorvaneText")), QByteArray("CorvaneText"));
        const char *out = nullptr;
        QVERIFY(!Module::getString("CorvaneText", &out));
    }
};

QTEST_GUILESS_MAIN(TestModule)
#include "tst_Module.moc"
