// The Updates tab against corvane-devsim: the check, a firmware install followed until the
// device restarts, an install whose device restarts before it says so, and the wireless
// chip update from the staged image.

#include "ui/PanelFixture.h"

#include "ui/UpdatesPanel.h"

#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

using namespace corvane;
using State = DeviceSession::State;

namespace {

UpdatesPanel::Timing quickPolls()
{
    UpdatesPanel::Timing timing;
    timing.pollIntervalMs = 100;
    timing.retryIntervalMs = 20;
    return timing;
}

// Every text a label shows, in order, sampled far faster than the panel polls.
struct TextLog {
    explicit TextLog(const QLabel *watched)
        : label(watched)
    {
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] { sample(); });
        timer.start(1);
    }
    void sample()
    {
        if (texts.isEmpty() || texts.last() != label->text())
            texts << label->text();
    }
    const QLabel *label;
    QTimer timer;
    QStringList texts;
};

bool checkForUpdate(UpdatesPanel &panel)
{
    panel.checkButton()->click();
    return QTest::qWaitFor([&panel] { return panel.checkButton()->isEnabled(); }, 15000);
}

} // namespace

class TestUpdatesPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void installIsFollowedUntilTheDeviceRestarts()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        UpdatesPanel panel(&f.session);
        panel.setTimingForTesting(quickPolls());
        panel.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(panel.chipLabel()->text(), QStringLiteral("Running: c6-2.0.1-sim"), 15000);
        QCOMPARE(panel.firmwareLabel()->text(), QStringLiteral("Running: 1.4.0-sim"));
        QVERIFY(!panel.installButton()->isEnabled());

        QVERIFY(checkForUpdate(panel));
        QCOMPARE(panel.firmwareStatus()->text(), QStringLiteral("Version 1.5.0-sim is available."));
        QVERIFY(panel.installButton()->isEnabled());

        TextLog log(panel.firmwareStatus());
        int progressAtFirstDownload = -1;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &watch, [&] {
            if (progressAtFirstDownload < 0 && panel.firmwareStatus()->text().startsWith(QString::fromUtf8("Downloading…")))
                progressAtFirstDownload = panel.firmwareProgress()->value();
        });
        watch.start(1);
        panel.installButton()->click();
        // The click shows its first text at once; a device that answers within a millisecond
        // would replace it before the sampling timer's first tick.
        log.sample();
        QCOMPARE(prompts.questions(), QStringList{QStringLiteral("Install update | Install version 1.5.0-sim and restart the device now?")});
        QVERIFY(!panel.installButton()->isEnabled() && !panel.checkButton()->isEnabled());
        const QString applied = QString::fromUtf8("Update applied. The device is restarting – reconnect in a minute.");
        QTRY_COMPARE_WITH_TIMEOUT(panel.firmwareStatus()->text(), applied, 15000);
        log.sample();

        // The device reports no size at first: 0 %, not a division by zero.
        QCOMPARE(log.texts.mid(0, 2), (QStringList{QString::fromUtf8("Starting the update…"), QString::fromUtf8("Downloading… 0%")}));
        QCOMPARE(progressAtFirstDownload, 0);
        QCOMPARE(log.texts.mid(log.texts.size() - 2), (QStringList{QString::fromUtf8("Verifying and applying the update…"), applied}));
        int last = 0;
        const QRegularExpression downloading(QString::fromUtf8("^Downloading… (\\d+)%$"));
        for (const QString &text : log.texts.mid(1, log.texts.size() - 3)) {
            const QRegularExpressionMatch match = downloading.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(text));
            QVERIFY(match.captured(1).toInt() >= last);
            last = match.captured(1).toInt();
        }
        QVERIFY(log.texts.size() > 4);
        QCOMPARE(panel.firmwareProgress()->value(), 100);
        QVERIFY(panel.checkButton()->isEnabled());
        QCOMPARE(f.onlyParams(QStringLiteral("otaApply")), QStringLiteral("{}"));

        // Back after the restart, the device runs the new firmware and offers nothing more.
        QVERIFY(f.waitState(State::Lost));
        QVERIFY(f.reopenAfterRestart());
        QVERIFY(f.waitState(State::Ready));
        QVERIFY(checkForUpdate(panel));
        QCOMPARE(panel.firmwareLabel()->text(), QStringLiteral("Running: 1.5.0-sim"));
        QCOMPARE(panel.firmwareStatus()->text(), QStringLiteral("Up to date."));
        QVERIFY(!panel.installButton()->isEnabled());
    }

    // Contact lost during an install ends the progress loop after five failed polls in a row:
    // a device that restarts early, or one that answers every poll with an error (where the
    // device counts the polls).
    void anInstallEndsAfterFiveFailedPolls_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("the device restarts") << "restart";
        QTest::newRow("every poll fails") << "fail otaProgress 7";
    }
    void anInstallEndsAfterFiveFailedPolls()
    {
        QFETCH(QString, command);
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        UpdatesPanel panel(&f.session);
        panel.setTimingForTesting(quickPolls());
        QVERIFY(checkForUpdate(panel));
        panel.installButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(panel.firmwareStatus()->text().startsWith(QString::fromUtf8("Downloading…")), 15000);
        TextLog log(panel.firmwareStatus());
        QVERIFY(f.sim.command(command));
        const QString lost = QStringLiteral(
            "Lost contact with the device while it updates (it is probably restarting). Reconnect in a minute.");
        QTRY_COMPARE_WITH_TIMEOUT(panel.firmwareStatus()->text(), lost, 15000);
        log.sample();
        QVERIFY(panel.checkButton()->isEnabled() && panel.installButton()->isEnabled());
        if (command == QLatin1String("restart")) {
            QCOMPARE(f.session.state(), State::Lost);
        } else {
            QTest::qWait(10 * quickPolls().retryIntervalMs); // time for a sixth poll, were there one
            QVERIFY(f.settle());
            QCOMPARE(f.sim.count(QStringLiteral("FAILED-BY-COMMAND otaProgress")), 5);
        }
        // Nothing but downloads and then the lost contact: failures in between are not shown.
        for (const QString &text : log.texts.mid(0, log.texts.size() - 1))
            QVERIFY2(text.startsWith(QString::fromUtf8("Downloading…")), qPrintable(text));
    }

    void wirelessChipUpdateFromTheStagedImage()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        UpdatesPanel panel(&f.session);
        panel.setTimingForTesting(quickPolls());
        TextLog log(panel.chipStatus());
        panel.chipButton()->click();
        QCOMPARE(prompts.questions(),
                 QStringList{QStringLiteral("Update wireless chip | Update the wireless chip from the staged image and restart the device?")});
        QVERIFY(!panel.chipButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(panel.chipStatus()->text(), QStringLiteral("Finished. The device may restart."), 15000);
        QVERIFY(panel.chipButton()->isEnabled());
        QVERIFY(log.texts.contains(QString::fromUtf8("Working… (sending)")));
        QCOMPARE(f.onlyParams(QStringLiteral("c6OtaApply")), QStringLiteral(R"({"force":false,"source":"partition"})"));
        QVERIFY(f.requestsOf(QStringLiteral("c6OtaStatus")) >= 2);
    }

    void declinedInstallSendsNothing()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        prompts.confirmAnswer = false;
        UpdatesPanel panel(&f.session);
        QVERIFY(checkForUpdate(panel));
        panel.installButton()->click();
        panel.chipButton()->click();
        QCOMPARE(prompts.asked.size(), 2);
        QCOMPARE(f.session.rpc()->pendingCount(), 0);
        QVERIFY(panel.installButton()->isEnabled() && panel.chipButton()->isEnabled());
    }

    void percent_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<double>("total");
        QTest::addColumn<int>("percent");
        QTest::newRow("size unknown") << 0.0 << 0.0 << 0;
        QTest::newRow("bytes without a size") << 4096.0 << 0.0 << 0;
        QTest::newRow("half") << 524288.0 << 1048576.0 << 50;
        QTest::newRow("rounded down") << 1.0 << 3.0 << 33;
        QTest::newRow("more than announced") << 2048.0 << 1024.0 << 100;
    }
    void percent()
    {
        QFETCH(double, bytes);
        QFETCH(double, total);
        QFETCH(int, percent);
        QCOMPARE(UpdatesPanel::percent(bytes, total), percent);
    }
};

QTEST_MAIN(TestUpdatesPanel)
#include "tst_UpdatesPanel.moc"
