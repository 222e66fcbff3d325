// The Settings tab against corvane-devsim: defaults for keys the device leaves out, the
// wireless input group that follows the connection and maker, hexadecimal fields, and the
// exact "setSettings" body the device receives.

#include "ui/PanelFixture.h"

#include "support/RpcWait.h"
#include "ui/SettingsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace corvane;
using Level = ControllerCascade::Level;

namespace {

// An OES wireless console on Xbee channel 11, set on the device before the panel loads.
bool setUpXbeeDevice(PanelDevice &f)
{
    const QJsonObject settings{{QStringLiteral("manufacturer"), QStringLiteral("oes")},
                               {QStringLiteral("model"), QStringLiteral("ISC9000")},
                               {QStringLiteral("sport"), QStringLiteral("basketball")},
                               {QStringLiteral("input_type"), QStringLiteral("wireless")},
                               {QStringLiteral("xbee_channel"), 11}};
    const bool ok = test::callAndWait(*f.session.rpc(), QStringLiteral("setSettings"), settings).ok;
    f.paramsOf(QStringLiteral("setSettings"));
    return ok;
}

bool load(SettingsPanel &panel, PanelDevice &f)
{
    panel.refresh();
    return f.settle() && panel.messageLabel()->text().isEmpty();
}

void pick(SettingsPanel &panel, Level level, const QString &id)
{
    QComboBox *box = panel.controllerBox(level);
    box->setCurrentIndex(box->findData(id));
    Q_EMIT box->activated(box->currentIndex());
}

QString lineText(SettingsPanel &panel, const char *key)
{
    return static_cast<QLineEdit *>(panel.widgetFor(QLatin1String(key)))->text();
}

// What every save carries besides the scoreboard and the wireless input group.
QString commonBody()
{
    return QStringLiteral(R"("ethernet_bridge_output_enabled":false,"ethernet_bridge_peer_host":"","ethernet_bridge_port":1011,)"
                          R"("http_endpoint_enabled":true,)");
}

} // namespace

class TestSettingsPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void omittedKeysShowTheirDefaults()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        SettingsPanel panel(&f.session);
        QVERIFY(load(panel, f));
        QCOMPARE(static_cast<QSpinBox *>(panel.widgetFor(QStringLiteral("ethernet_bridge_port")))->value(), 1011);
        QCOMPARE(static_cast<QSpinBox *>(panel.widgetFor(QStringLiteral("usb_tunnel_port")))->value(), 18883);
        QVERIFY(static_cast<QCheckBox *>(panel.widgetFor(QStringLiteral("tcp_feed_enabled")))->isChecked());
        QCOMPARE(panel.controllerBox(Level::Maker)->currentText(), QStringLiteral("daktronics"));
        QCOMPARE(panel.controllerBox(Level::Input)->currentText(), QStringLiteral("rs232"));
        QVERIFY(!panel.wirelessGroup()->isVisibleTo(&panel));
        QCOMPARE(f.methodsAsked().mid(2), (QStringList{QStringLiteral("getControllerList"), QStringLiteral("getControllerConfig"),
                                                       QStringLiteral("getSettings")}));
    }

    void xbeeChannelIsHexAndABlankOneSends255()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        QVERIFY(setUpXbeeDevice(f));
        SettingsPanel panel(&f.session);
        QVERIFY(load(panel, f));
        QVERIFY(panel.wirelessGroup()->isVisibleTo(&panel));
        QCOMPARE(panel.wirelessGroup()->title(), QStringLiteral("Wireless input (Xbee)"));
        QVERIFY(panel.widgetFor(QStringLiteral("xbee_channel"))->isVisibleTo(&panel));
        QVERIFY(!panel.widgetFor(QStringLiteral("wireless_channel"))->isVisibleTo(&panel));
        QCOMPARE(lineText(panel, "xbee_channel"), QStringLiteral("B"));
        QCOMPARE(lineText(panel, "xbee_pan_id"), QString());

        static_cast<QLineEdit *>(panel.widgetFor(QStringLiteral("xbee_channel")))->clear();
        static_cast<QLineEdit *>(panel.widgetFor(QStringLiteral("xbee_pan_id")))->setText(QStringLiteral(" 3fa2 "));
        panel.saveButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QString::fromUtf8("Saving…"));
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Saved. The device is switching to the new settings."), 15000);
        QCOMPARE(f.onlyParams(QStringLiteral("setSettings")),
                 QStringLiteral("{") + commonBody()
                     + QStringLiteral(R"("input_type":"wireless","manufacturer":"oes","model":"ISC9000","mqtt_config_enabled":true,)"
                                      R"("sport":"basketball","tcp_feed_enabled":true,"test_cloud_data_enabled":false,)"
                                      R"("usb_tunnel_enabled":false,"usb_tunnel_port":18883,"wireless_output_channel":1,)"
                                      R"("wireless_output_enabled":false,"wireless_output_network_id":1,"xbee_channel":255,)"
                                      R"("xbee_pan_id":16290})"));
    }

    void anotherConnectionHidesTheGroupAndLeavesItsKeysOut()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        QVERIFY(setUpXbeeDevice(f));
        SettingsPanel panel(&f.session);
        QVERIFY(load(panel, f));
        pick(panel, Level::Sport, QStringLiteral("volleyball"));
        QCOMPARE(panel.controllerBox(Level::Input)->currentData().toString(), QStringLiteral("rs485"));
        QVERIFY(!panel.wirelessGroup()->isVisibleTo(&panel));
        static_cast<QCheckBox *>(panel.widgetFor(QStringLiteral("usb_tunnel_enabled")))->setChecked(true);
        panel.saveButton()->click();
        QVERIFY(!panel.saveButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Saved. The device is switching to the new settings."), 15000);
        QVERIFY(panel.saveButton()->isEnabled());
        QCOMPARE(f.onlyParams(QStringLiteral("setSettings")),
                 QStringLiteral("{") + commonBody()
                     + QStringLiteral(R"("input_type":"rs485","manufacturer":"oes","model":"ISC9000","mqtt_config_enabled":true,)"
                                      R"("sport":"volleyball","tcp_feed_enabled":true,"test_cloud_data_enabled":false,)"
                                      R"("usb_tunnel_enabled":true,"usb_tunnel_port":18883,"wireless_output_channel":1,)"
                                      R"("wireless_output_enabled":false,"wireless_output_network_id":1})"));
    }

    void aMakerChangeRefillsTheBoxesBelow()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        SettingsPanel panel(&f.session);
        QVERIFY(load(panel, f));
        pick(panel, Level::Maker, QStringLiteral("oes"));
        QCOMPARE(panel.controllerBox(Level::Model)->currentText(), QStringLiteral("ISC9000"));
        QCOMPARE(panel.controllerBox(Level::Sport)->count(), 2);
        QCOMPARE(panel.controllerBox(Level::Input)->currentText(), QStringLiteral("wireless"));
        QVERIFY(panel.wirelessGroup()->isVisibleTo(&panel));
        QCOMPARE(panel.wirelessGroup()->title(), QStringLiteral("Wireless input (Xbee)"));
    }

    // OES and Varsity consoles send over Xbee radios, every other maker over RM024 ones.
    void wirelessFieldsFollowTheMaker_data()
    {
        QTest::addColumn<QString>("maker");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("hidden");
        QTest::newRow("oes") << "oes" << "Wireless input (Xbee)" << "xbee_channel" << "wireless_channel";
        QTest::newRow("varsity") << "varsity" << "Wireless input (Xbee)" << "xbee_pan_id" << "wireless_group";
        QTest::newRow("allamerican") << "allamerican" << "Wireless input (RM024)" << "wireless_channel" << "xbee_channel";
    }
    void wirelessFieldsFollowTheMaker()
    {
        QFETCH(QString, maker);
        QFETCH(QString, shown);
        QFETCH(QString, hidden);
        PanelDevice f;
        QVERIFY(f.ready);
        SettingsPanel panel(&f.session);
        QVERIFY(load(panel, f));
        pick(panel, Level::Maker, maker);
        pick(panel, Level::Input, QStringLiteral("wireless"));
        QVERIFY(panel.wirelessGroup()->isVisibleTo(&panel));
        QTEST(panel.wirelessGroup()->title(), "title");
        QVERIFY(panel.widgetFor(shown)->isVisibleTo(&panel));
        QVERIFY(!panel.widgetFor(hidden)->isVisibleTo(&panel));
    }

    // A scoreboard that could not be read is not shown as if it were, and Save cannot write
    // boxes the device never filled: the failure stays shown until the operator chooses.
    void aFailedScoreboardLoadIsNotSaved()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        QVERIFY(f.sim.command(QStringLiteral("fail getControllerConfig")));
        SettingsPanel panel(&f.session);
        panel.refresh();
        QVERIFY(f.settle());
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("The device could not answer getControllerConfig."));
        QVERIFY(isRed(panel.messageLabel()));
        for (int level = 0; level < ControllerCascade::LevelCount; ++level)
            QCOMPARE(panel.controllerBox(Level(level))->currentIndex(), -1);
        panel.saveButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("Choose the scoreboard's maker, model, sport and connection first."));
        QCOMPARE(f.requestsOf(QStringLiteral("setSettings")), 0);

        pick(panel, Level::Maker, QStringLiteral("nevco"));
        panel.saveButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Saved. The device is switching to the new settings."), 15000);
        const QJsonObject saved = f.paramsOf(QStringLiteral("setSettings")).value(0);
        QCOMPARE(saved.value(QStringLiteral("manufacturer")).toString(), QStringLiteral("nevco"));
        QCOMPARE(saved.value(QStringLiteral("input_type")).toString(), QStringLiteral("nevco"));
    }

    void otherMakersUseTheRm024Fields()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        SettingsPanel panel(&f.session);
        QVERIFY(load(panel, f));
        pick(panel, Level::Maker, QStringLiteral("allamerican"));
        QCOMPARE(panel.controllerBox(Level::Input)->currentData().toString(), QStringLiteral("wireless"));
        QCOMPARE(panel.wirelessGroup()->title(), QStringLiteral("Wireless input (RM024)"));
        QVERIFY(panel.widgetFor(QStringLiteral("wireless_channel"))->isVisibleTo(&panel));
        QVERIFY(!panel.widgetFor(QStringLiteral("xbee_channel"))->isVisibleTo(&panel));
        static_cast<QCheckBox *>(panel.widgetFor(QStringLiteral("wireless_auto_scan")))->setChecked(false);
        static_cast<QSpinBox *>(panel.widgetFor(QStringLiteral("wireless_channel")))->setValue(42);
        panel.saveButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Saved. The device is switching to the new settings."), 15000);
        QCOMPARE(f.onlyParams(QStringLiteral("setSettings")),
                 QStringLiteral("{") + commonBody()
                     + QStringLiteral(R"("input_type":"wireless","manufacturer":"allamerican","model":"8000","mqtt_config_enabled":true,)"
                                      R"("sport":"basketball","tcp_feed_enabled":true,"test_cloud_data_enabled":false,)"
                                      R"("usb_tunnel_enabled":false,"usb_tunnel_port":18883,"wireless_auto_scan":false,)"
                                      R"("wireless_channel":42,"wireless_group":0,"wireless_output_channel":1,)"
                                      R"("wireless_output_enabled":false,"wireless_output_network_id":1})"));
    }

    void savingNeedsTheScoreboard()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        SettingsPanel panel(&f.session);
        panel.saveButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("Choose the scoreboard's maker, model, sport and connection first."));
        QVERIFY(isRed(panel.messageLabel()));
        QCOMPARE(f.session.rpc()->pendingCount(), 0);
    }

    void hexFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("blank");
        QTest::addColumn<int>("value");
        QTest::newRow("blank channel") << "" << 255 << 255;
        QTest::newRow("spaces only") << "  " << 65535 << 65535;
        QTest::newRow("lower case") << "1a" << 255 << 26;
        QTest::newRow("padded") << " 0B " << 255 << 11;
    }
    void hexFields()
    {
        QFETCH(QString, text);
        QFETCH(int, blank);
        QFETCH(int, value);
        QCOMPARE(SettingsPanel::hexValue(text, blank), value);
        QCOMPARE(SettingsPanel::hexText(value, blank), value == blank ? QString() : QString::number(value, 16).toUpper());
    }
};

QTEST_MAIN(TestSettingsPanel)
#include "tst_SettingsPanel.moc"
