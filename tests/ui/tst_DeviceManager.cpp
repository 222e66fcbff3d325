// The device manager against corvane-devsim: its tabs in order, each asking the device again
// when it is shown and only then; and the Cloud tab, the one panel without a file of its own.

#include "ui/PanelFixture.h"

#include "base/SettingsStore.h"
#include "device/usb/UsbLink.h"
#include "ui/CloudPanel.h"
#include "ui/DeviceManager.h"
#include "ui/SecurityPanel.h"
#include "ui/SettingsPanel.h"
#include "ui/SharePanel.h"
#include "ui/StatusPanel.h"
#include "ui/UpdatesPanel.h"
#include "ui/WifiPanel.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <functional>
#include <memory>

using namespace corvane;

namespace {

// The methods the device is asked for next, exactly `count` of them.
QStringList nextMethods(PanelDevice &f, int count)
{
    // A shortfall shows up as a shorter list in the comparison.
    const bool arrived = QTest::qWaitFor([&f, count] { return f.sim.count(QStringLiteral("RPC ")) >= count; }, 15000);
    const bool answered = f.settle();
    return arrived && answered ? f.methodsAsked() : QStringList{QStringLiteral("(not answered)")};
}

} // namespace

class TestDeviceManager : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tabsRefreshOnlyWhenShown()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        QVERIFY(f.settle());
        QCOMPARE(nextMethods(f, 2), (QStringList{"login", "getStatus"}));
        SettingsStore settings;
        DeviceManager manager(&f.session, nullptr, &settings);
        QStringList titles;
        for (int i = 0; i < manager.count(); ++i)
            titles << manager.tabText(i);
        QCOMPARE(titles, (QStringList{"Status", "Wi-Fi", "Settings", "Security", "Updates", "Cloud", "Advanced"}));
        QCOMPARE(manager.panels().size(), 7);
        QCOMPARE(static_cast<QWidget *>(manager.securityPanel()), manager.widget(3));
        QCOMPARE(nextMethods(f, 1), QStringList{"getStatus"});

        const QList<QPair<int, QStringList>> steps{
            {1, {"getEspNow"}},
            {2, {"getControllerList", "getControllerConfig", "getSettings"}},
            {3, {"getStatus"}},
            {4, {"getStatus", "c6OtaStatus"}},
            {5, {"getStatus"}},
            {6, {}},
            {0, {"getStatus"}},
        };
        for (const auto &[tab, methods] : steps) {
            manager.setCurrentIndex(tab);
            QCOMPARE(nextMethods(f, int(methods.size())), methods);
        }
    }

    // The wizard may drop the session under an open tab; the tab's next request says so.
    void aTabWhoseSessionHasGoneSaysSo_data()
    {
        QTest::addColumn<QString>("tab");
        for (const char *tab : {"Status", "Wi-Fi", "Settings", "Security", "Updates", "Cloud"})
            QTest::newRow(tab) << QString::fromLatin1(tab);
    }
    void aTabWhoseSessionHasGoneSaysSo()
    {
        QFETCH(QString, tab);
        SettingsStore settings;
        const QHash<QString, std::function<PanelBase *(DeviceSession *)>> make{
            {QStringLiteral("Status"), [](DeviceSession *s) { return new StatusPanel(s); }},
            {QStringLiteral("Wi-Fi"), [](DeviceSession *s) { return new WifiPanel(s); }},
            {QStringLiteral("Settings"), [](DeviceSession *s) { return new SettingsPanel(s); }},
            {QStringLiteral("Security"), [](DeviceSession *s) { return new SecurityPanel(s); }},
            {QStringLiteral("Updates"), [](DeviceSession *s) { return new UpdatesPanel(s); }},
            {QStringLiteral("Cloud"), [&settings](DeviceSession *s) { return new CloudPanel(s, nullptr, &settings); }},
        };
        auto *session = new DeviceSession(new UsbLink(QStringLiteral("/nonexistent/tty")));
        const std::unique_ptr<PanelBase> panel(make.value(tab)(session));
        delete session;
        panel->refresh();
        QCOMPARE(panel->messageLabel()->text(), QStringLiteral("Not connected to a device."));
        QVERIFY(isRed(panel->messageLabel()));
    }

    void cloudTab()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        SettingsStore settings;
        CloudPanel panel(&f.session, nullptr, &settings);
        QVERIFY(panel.sharePanel()->isVisibleTo(&panel));
        panel.refreshButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.connectionLabel()->text(), QStringLiteral("Connected to the cloud: false"), 15000);
        QCOMPARE(panel.routeLabel()->text(), QStringLiteral("Route: none"));
        QCOMPARE(panel.deviceIdField()->text(), QStringLiteral("CVSIM-0001"));

        // An empty ID is not sent: the device would lose its name in the account.
        panel.deviceIdField()->setText(QStringLiteral("   "));
        panel.saveButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("Enter a device ID first."));
        QVERIFY(isRed(panel.messageLabel()));
        panel.deviceIdField()->setText(QStringLiteral("GYM-EAST"));
        panel.saveButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Saved."), 15000);
        QCOMPARE(f.onlyParams(QStringLiteral("setDeviceId")), QStringLiteral(R"({"device_id":"GYM-EAST"})"));

        panel.forgetButton()->click();
        QCOMPARE(prompts.questions(), QStringList{QStringLiteral("Forget cloud sign-in | The device stops sending scores to the cloud until "
                                                                 "it is set up for it again. Continue?")});
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Done. The device no longer has cloud credentials."), 15000);
        QCOMPARE(f.onlyParams(QStringLiteral("clearMqttConfig")), QStringLiteral("{}"));
        panel.refreshButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.routeLabel()->text(), QStringLiteral("Route: "), 15000);
    }
};

QTEST_MAIN(TestDeviceManager)
#include "tst_DeviceManager.moc"
