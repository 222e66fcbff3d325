// The dock's update banner and plugin box through a whole self-update against
// corvane-update-sim: what the operator sees in each state of the updater.
#include "app/App.h"
#include "support/PluginHome.h"
#include "support/UpdateSimProcess.h"
#include "support/WidgetLookup.h"
#include "ui/Dock.h"
#include "update/PluginUpdater.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace corvane;
using corvane::test::byText;
using corvane::test::groupTitled;
using corvane::test::PluginHome;
using corvane::test::UpdateSimProcess;

namespace {

// What the dock shows at one moment.
struct View {
    PluginUpdater::State state;
    bool banner;
    QString title;
    bool progress;
    int progressMaximum;
    bool updateNow;
    QString updateNowText;
    bool downloadPage;
    bool checkEnabled;
    QString detail; // the release notes under the title, empty when hidden
    QString statusStyle; // of the plugin box's status line
};

View viewOf(Dock &dock, const PluginUpdater &updater)
{
    auto *banner = dock.findChild<QFrame *>(QStringLiteral("corvaneUpdateBanner"));
    const QList<QLabel *> labels = banner->findChildren<QLabel *>();
    auto *progress = banner->findChild<QProgressBar *>();
    const QList<QPushButton *> buttons = banner->findChildren<QPushButton *>();
    const QLabel *status = byText<QLabel>(groupTitled(&dock, QStringLiteral("Corvane plugin")), updater.message());
    return {updater.state(),
            banner->isVisibleTo(&dock),
            labels.at(0)->text(),
            progress->isVisibleTo(&dock),
            progress->maximum(),
            buttons.at(0)->isVisibleTo(&dock),
            buttons.at(0)->text(),
            buttons.at(1)->isVisibleTo(&dock),
            byText<QPushButton>(&dock, QStringLiteral("Check for updates"))->isEnabled(),
            labels.at(1)->isVisibleTo(&dock) ? labels.at(1)->text() : QString(),
            status ? status->styleSheet() : QStringLiteral("(no status line)")};
}

const QString kHintStyle = QStringLiteral("color: palette(placeholder-text);");

} // namespace

class TestDockUpdates : public QObject {
    Q_OBJECT
private:
    UpdateSimProcess m_sim;

    // Every state the updater passes through, as the dock showed it then.
    QList<View> follow(Dock &dock, PluginUpdater &updater, PluginUpdater::State until)
    {
        QList<View> views;
        // Connected after the dock's own reaction, so the dock has already redrawn.
        const QMetaObject::Connection watch =
            connect(&updater, &PluginUpdater::stateChanged, this, [&] { views << viewOf(dock, updater); });
        const bool reached = QTest::qWaitFor([&] { return updater.state() == until || updater.state() == PluginUpdater::Failed; }, 60000);
        disconnect(watch);
        if (!reached)
            qWarning("the updater stopped in state %d", int(updater.state()));
        return views;
    }

    static const View *find(const QList<View> &views, PluginUpdater::State state)
    {
        for (const View &view : views)
            if (view.state == state)
                return &view;
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(!m_sim.start({QStringLiteral("--package"), QStringLiteral("slow")}).isEmpty()); }

    void checkThenInstall()
    {
        PluginHome home;
        App app(home.environment({{QStringLiteral("downloads_url"), m_sim.url()},
                                  {QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:9")},
                                  {QStringLiteral("auto_check_updates"), false}}));
        Dock dock(&app);
        dock.show();
        PluginUpdater &updater = app.updater();
        QVERIFY(!dock.findChild<QFrame *>(QStringLiteral("corvaneUpdateBanner"))->isVisible());

        byText<QPushButton>(&dock, QStringLiteral("Check for updates"))->click();
        const View checking = viewOf(dock, updater);
        QCOMPARE(checking.state, PluginUpdater::Checking);
        QVERIFY(!checking.banner && !checking.checkEnabled);
        QList<View> views = follow(dock, updater, PluginUpdater::Available);
        const View *available = find(views, PluginUpdater::Available);
        QVERIFY(available);
        QVERIFY(available->banner);
        QCOMPARE(available->title, QStringLiteral("Corvane 1.0.2 is available (you have 1.0.1)."));
        QVERIFY(available->updateNow && !available->downloadPage && available->checkEnabled);
        QCOMPARE(available->updateNowText, QStringLiteral("Update now"));
        QCOMPARE(available->detail, QStringLiteral("Faster updates.\nFixes."));
        QCOMPARE(available->statusStyle, kHintStyle);

        byText<QPushButton>(&dock, QStringLiteral("Update now"))->click();
        views = follow(dock, updater, PluginUpdater::Installed);
        const View *downloading = find(views, PluginUpdater::Downloading);
        QVERIFY(downloading);
        QVERIFY(downloading->banner && downloading->progress && downloading->progressMaximum == 100);
        QVERIFY(!downloading->updateNow && !downloading->downloadPage && !downloading->checkEnabled);
        QCOMPARE(downloading->detail, QString());
        const View *installing = find(views, PluginUpdater::Installing);
        QVERIFY(installing);
        QVERIFY(installing->progress && installing->progressMaximum == 0); // indeterminate
        QVERIFY(!installing->updateNow && !installing->downloadPage);
        const View *installed = find(views, PluginUpdater::Installed);
        QVERIFY(installed);
        QCOMPARE(installed->title, QStringLiteral("Restart OBS to finish updating to version 1.0.2."));
        QVERIFY(!installed->progress && !installed->updateNow && !installed->downloadPage && !installed->checkEnabled);
        QVERIFY(dock.findChild<QFrame *>(QStringLiteral("corvaneUpdateBanner"))->styleSheet().contains(QLatin1String("#e8a317")));
    }

    void failedInstallOffersToTryAgain()
    {
        UpdateSimProcess broken;
        QVERIFY(!broken.start({QStringLiteral("--package"), QStringLiteral("wrong-sha")}).isEmpty());
        PluginHome home;
        App app(home.environment({{QStringLiteral("downloads_url"), broken.url()},
                                  {QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:9")},
                                  {QStringLiteral("auto_check_updates"), false}}));
        Dock dock(&app);
        dock.show();
        PluginUpdater &updater = app.updater();
        updater.check(true);
        QVERIFY(QTest::qWaitFor([&] { return updater.state() == PluginUpdater::Available; }, 30000));
        updater.install();
        QVERIFY(QTest::qWaitFor([&] { return updater.state() == PluginUpdater::Failed; }, 30000));
        const View failed = viewOf(dock, updater);
        QVERIFY(failed.banner);
        QCOMPARE(failed.title, QStringLiteral("The update to version 1.0.2 did not finish."));
        QVERIFY(failed.updateNow);
        QCOMPARE(failed.updateNowText, QStringLiteral("Try again"));
        QCOMPARE(failed.detail, QString());
        QCOMPARE(failed.statusStyle, QStringLiteral("color: #d9534f;"));
    }
};

QTEST_MAIN(TestDockUpdates)
#include "tst_DockUpdates.moc"
