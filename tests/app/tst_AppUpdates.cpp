// App's side of the self-updater: its configuration, the leftovers of an earlier update, the
// background check and what it records, against corvane-update-sim.
#include "app/App.h"
#include "base/Log.h"
#include "support/PluginHome.h"
#include "support/TestSettings.h"
#include "support/UpdateSimProcess.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace corvane;
using corvane::test::PluginHome;
using corvane::test::UpdateSimProcess;
using corvane::test::writeFile;

namespace {

struct LogCapture {
    LogCapture() { s_current = this; setLogSink(&LogCapture::handle); }
    ~LogCapture() { setLogSink(nullptr); s_current = nullptr; }
    static void handle(LogLevel level, const char *line) { s_current->lines << qMakePair(level, QString::fromUtf8(line)); }
    static inline LogCapture *s_current = nullptr;
    QList<QPair<LogLevel, QString>> lines;
};

bool waitForState(PluginUpdater &updater, PluginUpdater::State state)
{
    QEventLoop loop;
    QObject::connect(&updater, &PluginUpdater::stateChanged, &loop, [&] {
        if (updater.state() == state || updater.state() == PluginUpdater::Failed)
            loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (updater.state() != state)
        loop.exec();
    return updater.state() == state;
}

} // namespace

class TestAppUpdates : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void configurationAndLeftovers()
    {
        PluginHome home;
        writeFile(home.root + QStringLiteral("/bin/64bit/corvane-obs.so.old"));
        writeFile(home.root + QStringLiteral("/data/locale/.hidden.ini"));
        writeFile(home.root + QStringLiteral("/data/locale/.hidden.ini.old"));
        writeFile(home.root + QStringLiteral("/data/keep.txt"));
        App app(home.environment({{QStringLiteral("downloads_url"), QStringLiteral("http://127.0.0.1:8123/")}}));

        const UpdaterConfig &config = app.updater().config();
        QCOMPARE(config.manifestUrl, QStringLiteral("http://127.0.0.1:8123/downloads/obs/latest.json"));
        QCOMPARE(config.downloadPage, QStringLiteral("http://127.0.0.1:8123/download"));
        QCOMPARE(config.currentVersion, QStringLiteral("1.0.1"));
        QCOMPARE(config.platform, QStringLiteral("linux-x64"));
        QCOMPARE(config.obsVersion, QStringLiteral("30.2.3"));
        QCOMPARE(config.installRoot, home.root);
        QCOMPARE(config.workDir, home.config + QStringLiteral("/update"));
        QCOMPARE(config.libraryPath, QString());
        QCOMPARE(config.timeoutMs, 15000);
        QVERIFY(app.updater().canSelfUpdate());

        QVERIFY(!QFileInfo::exists(home.root + QStringLiteral("/bin/64bit/corvane-obs.so.old")));
        QVERIFY(!QFileInfo::exists(home.root + QStringLiteral("/data/locale/.hidden.ini.old")));
        QVERIFY(QFileInfo::exists(home.root + QStringLiteral("/data/keep.txt")));
        QVERIFY(QFileInfo::exists(home.root + QStringLiteral("/bin/64bit/corvane-obs.so")));
    }

    // After an update whose rollback failed, the old files are the user's way back: they stay
    // while the installed files are not whole (a NAME.old without its NAME is the only copy of
    // that file), or while the note names a file whose new copy could not be removed.
    void leftoversOfAFailedRollbackStay()
    {
        const QString note = QStringLiteral("/update/") + QLatin1String(PluginUpdater::kRollbackNote);
        {
            PluginHome home;
            writeFile(home.root + QStringLiteral("/bin/64bit/corvane-obs.so.old"));
            writeFile(home.root + QStringLiteral("/data/fonts/gone.ttf.old"));
            App app(home.environment({}));
            QVERIFY(QFileInfo::exists(home.root + QStringLiteral("/bin/64bit/corvane-obs.so.old")));
            QVERIFY(QFileInfo::exists(home.root + QStringLiteral("/data/fonts/gone.ttf.old")));
        }
        {
            PluginHome home;
            writeFile(home.root + QStringLiteral("/bin/64bit/corvane-obs.so.old"));
            writeFile(home.config + note, "what to do\nbin/64bit/corvane-obs.so\n");
            App app(home.environment({}));
            QVERIFY(QFileInfo::exists(home.root + QStringLiteral("/bin/64bit/corvane-obs.so.old")));
            QVERIFY(QFileInfo::exists(home.config + note));
        }
    }

    // Installed for all users, the folder above the data folder is shared with other
    // plugins; their files stay.
    void sharedFolderKeepsItsOldFiles()
    {
        PluginHome home;
        QFile::remove(home.root + QStringLiteral("/bin/64bit/corvane-obs.so"));
        writeFile(home.root + QStringLiteral("/other-plugin/settings.old"));
        App app(home.environment({}));
        QVERIFY(QFileInfo::exists(home.root + QStringLiteral("/other-plugin/settings.old")));
    }

    void backgroundCheckFindsAndInstalls()
    {
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        PluginHome home;
        LogCapture log;
        App app(home.environment({{QStringLiteral("downloads_url"), sim.url()}}));
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        app.setUpdateCheckTimingForTesting(10, 600000);
        QVERIFY(waitForState(app.updater(), PluginUpdater::Available));
        QCOMPARE(app.updater().version(), QStringLiteral("1.0.2"));
        const qint64 stored = home.storedSettings().value(QStringLiteral("last_update_check")).toInteger();
        QVERIFY2(stored >= before && stored <= QDateTime::currentSecsSinceEpoch(), qPrintable(QString::number(stored)));

        app.updater().install();
        QVERIFY(waitForState(app.updater(), PluginUpdater::Installed));
        const auto installed = qMakePair(LogLevel::Info,
                                         QStringLiteral("[corvane] plugin 1.0.2 installed; takes effect on the next OBS start"));
        QVERIFY(log.lines.contains(installed));
    }

    void noBackgroundCheckWhenTurnedOff()
    {
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        PluginHome home;
        App app(home.environment({{QStringLiteral("downloads_url"), sim.url()},
                                  {QStringLiteral("auto_check_updates"), false}}));
        app.setUpdateCheckTimingForTesting(10, 20);
        QTest::qWait(300);
        QCOMPARE(sim.requests(), QStringList());
        QCOMPARE(app.updater().state(), PluginUpdater::Idle);
        QVERIFY(!home.storedSettings().contains(QStringLiteral("last_update_check")));
    }
};

QTEST_GUILESS_MAIN(TestAppUpdates)
#include "tst_AppUpdates.moc"
