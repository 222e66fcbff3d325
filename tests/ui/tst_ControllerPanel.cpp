// The controller panel (the wizard's scoreboard step) against corvane-devsim: the device's
// own list in four linked boxes, its current choice preselected, and the save.

#include "ui/PanelFixture.h"

#include "ui/ControllerPanel.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace corvane;
using Level = ControllerCascade::Level;

namespace {

QStringList labels(const QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

QStringList current(const ControllerPanel &panel)
{
    QStringList out;
    for (int level = 0; level < ControllerCascade::LevelCount; ++level)
        out << panel.box(static_cast<Level>(level))->currentData().toString();
    return out;
}

void pick(ControllerPanel &panel, Level level, const QString &id)
{
    QComboBox *box = panel.box(level);
    box->setCurrentIndex(box->findData(id));
    Q_EMIT box->activated(box->currentIndex());
}

bool load(ControllerPanel &panel)
{
    panel.load();
    return QTest::qWaitFor([&panel] { return panel.messageLabel()->text() == QStringLiteral("Currently set to this scoreboard."); }, 15000);
}

} // namespace

class TestControllerPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadPreselectsTheDevicesChoice()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        ControllerPanel panel(&f.session);
        QVERIFY(!panel.saveButton()->isEnabled());
        QVERIFY(load(panel));
        QCOMPARE(labels(panel.box(Level::Maker)), (QStringList{"All-American", "Corvane wireless / ethernet bridge", "Daktronics", "Electromech", "NEVCO",
                                                               "OES", "Varsity / Sportable"}));
        QCOMPARE(current(panel), (QStringList{"daktronics", "5000", "basketball", "rs232"}));
        QCOMPARE(labels(panel.box(Level::Sport)), (QStringList{"Basketball", "Hockey"}));
        QCOMPARE(labels(panel.box(Level::Input)), (QStringList{"Current loop (CL)", "RS-232"}));
        QVERIFY(panel.saveButton()->isEnabled());
    }

    // A device set to a controller its own list lacks (here the right maker, model and sport
    // but another connection) shows the first items, not a partial match, and no "Currently".
    void anOffListSettingIsNotPreselected()
    {
        QTemporaryDir dir;
        QFile state(dir.filePath(QStringLiteral("device.json")));
        QVERIFY(state.open(QIODevice::WriteOnly));
        state.write(R"({"controller":{"manufacturer":"oes","model":"ISC9000","sport":"basketball","input_type":"rs232"}})");
        state.close();
        PanelDevice f({QStringLiteral("--state"), state.fileName()});
        QVERIFY(f.ready);
        ControllerPanel panel(&f.session);
        panel.load();
        QVERIFY(f.settle());
        QCOMPARE(f.requestsOf(QStringLiteral("getControllerConfig")), 1);
        QCOMPARE(current(panel), (QStringList{"allamerican", "8000", "basketball", "wireless"}));
        QCOMPARE(panel.messageLabel()->text(), QString());
    }

    void aPickResetsTheLevelsBelow()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        ControllerPanel panel(&f.session);
        QVERIFY(load(panel));
        pick(panel, Level::Sport, QStringLiteral("hockey"));
        QCOMPARE(current(panel), (QStringList{"daktronics", "5000", "hockey", "rs232"}));
        QCOMPARE(labels(panel.box(Level::Input)), QStringList{"RS-232"});
        pick(panel, Level::Maker, QStringLiteral("oes"));
        QCOMPARE(current(panel), (QStringList{"oes", "ISC9000", "basketball", "wireless"}));
        QCOMPARE(labels(panel.box(Level::Sport)), (QStringList{"Basketball", "Volleyball"}));
    }

    void saveSendsTheFourValues()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        ControllerPanel panel(&f.session);
        QSignalSpy saved(&panel, &ControllerPanel::saved);
        QVERIFY(load(panel));
        pick(panel, Level::Maker, QStringLiteral("oes"));
        pick(panel, Level::Sport, QStringLiteral("volleyball"));
        panel.saveButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QString::fromUtf8("Saving…"));
        QVERIFY(!panel.saveButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 1, 15000);
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("Saved."));
        QVERIFY(panel.saveButton()->isEnabled());
        QCOMPARE(f.onlyParams(QStringLiteral("setControllerConfig")),
                 QStringLiteral(R"({"input_type":"rs485","manufacturer":"oes","model":"ISC9000","sport":"volleyball"})"));
    }
};

QTEST_MAIN(TestControllerPanel)
#include "tst_ControllerPanel.moc"
