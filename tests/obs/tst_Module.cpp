#include "app/App.h"
#include "base/Log.h"
#include "cloud/PortalClientJar.h"
#include "obs/Module.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QPointer>
#include <QTest>
#include <QVariant>

using namespace corvane;

namespace {

QStringList s_log;
void captureLog(LogLevel, const char *line)
{
    s_log << QString::fromUtf8(line);
}

} // namespace

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

    // A system copy and a per-user copy loaded into one OBS: the second must not compete for
    // the sources, the dock or the servers' ports.
    void secondCopyStaysInert()
    {
        QTemporaryDir dir;
        QFile settings(dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QJsonDocument(QJsonObject{{QStringLiteral("server_enabled"), false},
                                                 {QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:9")}})
                           .toJson());
        settings.close();
        int asked = 0;
        const auto environment = [&] {
            ++asked;
            return AppEnvironment{dir.filePath(QStringLiteral("settings.json")), dir.filePath(QStringLiteral("session.json"))};
        };
        // What the copy loaded first leaves on the process's one application object.
        qApp->setProperty("corvane-obs.loadedCopy", qulonglong(1));
        qApp->setProperty("corvane-obs.loadedCopyPath", QStringLiteral("/usr/lib/x86_64-linux-gnu/obs-plugins/corvane-obs.so"));
        s_log.clear();
        const LogSink previous = setLogSink(captureLog);
        QVERIFY(Module::load(environment));
        Module::start();
        Module::postLoad();
        QVERIFY(!App::instance());
        QCOMPARE(asked, 0);
        QVERIFY2(s_log.filter(QStringLiteral("another copy of this plugin is already loaded "
                                             "(/usr/lib/x86_64-linux-gnu/obs-plugins/corvane-obs.so); this copy ("))
                         .size() == 1,
                 qPrintable(s_log.join(QLatin1Char('\n'))));
        Module::unload();
        setLogSink(previous);
        QVERIFY(s_log.filter(QStringLiteral("plugin unloaded")).isEmpty());
        QCOMPARE(qApp->property("corvane-obs.loadedCopy").toULongLong(), qulonglong(1));

        // With the first copy gone, this one loads as usual and claims the process itself.
        qApp->setProperty("corvane-obs.loadedCopy", QVariant());
        QVERIFY(Module::load(environment));
        QVERIFY(App::instance());
        QVERIFY(qApp->property("corvane-obs.loadedCopy").isValid());
        Module::unload();
        QVERIFY(!qApp->property("corvane-obs.loadedCopy").isValid());
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
