#include "device/settings/ControllerCascade.h"
#include "device/settings/ControllerCatalog.h"

#include <QTest>

using namespace corvane;

namespace {

ControllerChoice c(const char *maker, const char *model, const char *sport, const char *input)
{
    return {QString::fromUtf8(maker), QString::fromUtf8(model), QString::fromUtf8(sport), QString::fromUtf8(input)};
}

QStringList ids(const QList<ControllerCascade::Item> &items)
{
    QStringList out;
    for (const auto &item : items)
        out << item.id;
    return out;
}

QStringList labelsOf(const QList<ControllerCascade::Item> &items)
{
    QStringList out;
    for (const auto &item : items)
        out << item.label;
    return out;
}

// What a device might report: repeats, several models per maker, identifiers the catalog
// does not know, and mixed case.
const QList<ControllerChoice> kDeviceList = {
    c("varsity", "Gen2", "basketball", "rs485"),
    c("daktronics", "5000", "football", "cl"),
    c("daktronics", "5000", "basketball", "rs232"),
    c("daktronics", "5000", "basketball", "rs232"),
    c("nevco", "MPC-5", "ice_hockey", "nevco"),
    c("fairplay", "Proline", "baseball", "rs232"),
    c("daktronics", "All Sport", "basketball", "Channel_3"),
    c("acme_corp", "X1", "", "fiber_link"),
    c("", "orphan", "soccer", "rs232"),
};

} // namespace

class TestControllerCatalog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void labelFunctions_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("label");
        QTest::newRow("maker known") << "maker" << "nevco" << "NEVCO";
        QTest::newRow("maker any case") << "maker" << "DakTronics" << "Daktronics";
        QTest::newRow("maker unknown keeps underscores") << "maker" << "acme_corp" << "Acme_corp";
        QTest::newRow("maker empty") << "maker" << "" << "";
        QTest::newRow("sport") << "sport" << "ice_hockey" << "Ice hockey";
        QTest::newRow("sport plain") << "sport" << "football" << "Football";
        QTest::newRow("sport empty") << "sport" << "" << "";
        QTest::newRow("input cl") << "input" << "cl" << "Current loop (CL)";
        QTest::newRow("input upper case") << "input" << "RS232" << "RS-232";
        QTest::newRow("input rs422") << "input" << "rs422" << "RS-422";
        QTest::newRow("input nevco") << "input" << "nevco" << "NEVCO serial";
        QTest::newRow("input bridge") << "input" << "ethernet_bridge" << "Ethernet bridge";
        QTest::newRow("channel 10") << "input" << "channel_10" << "Wireless channel 10";
        QTest::newRow("channel from device") << "input" << "Channel_3" << "Wireless channel 3";
        QTest::newRow("input unknown") << "input" << "fiber_link" << "Fiber link";
    }
    void labelFunctions()
    {
        QFETCH(QString, kind);
        QFETCH(QString, id);
        QFETCH(QString, label);
        const QString got = kind == QLatin1String("maker") ? makerLabel(id)
                            : kind == QLatin1String("sport") ? sportLabel(id)
                                                             : inputLabel(id);
        QCOMPARE(got, label);
    }

    void catalogEntries()
    {
        QStringList keys;
        for (const CatalogEntry &entry : controllerCatalog())
            keys << entry.key;
        QCOMPARE(keys, QStringList({"allamerican", "corvane", "daktronics", "electromech", "fairplay", "nevco", "oes",
                                    "varsity"}));
        const CatalogEntry *bridge = catalogEntry(QStringLiteral("Corvane"));
        QVERIFY(bridge);
        QCOMPARE(bridge->inputTypes.size(), 11);
        QCOMPARE(bridge->inputTypes.first(), QStringLiteral("channel_1"));
        QCOMPARE(bridge->inputTypes.at(9), QStringLiteral("channel_10"));
        QCOMPARE(bridge->inputTypes.last(), QStringLiteral("ethernet_bridge"));
        QVERIFY(!catalogEntry(QStringLiteral("acme")));

        // Electromech names its one sport; everyone else offers the defaults in fixed order.
        QCOMPARE(sportsOf(*catalogEntry(QStringLiteral("electromech"))), QStringList({"football"}));
        QCOMPARE(sportsOf(*catalogEntry(QStringLiteral("oes"))),
                 QStringList({"basketball", "football", "baseball", "volleyball", "soccer", "hockey", "lacrosse",
                              "wrestling"}));
    }

    void makersCollapseAndSortByLabel()
    {
        ControllerCascade cascade;
        cascade.setChoices(kDeviceList);
        QCOMPARE(labelsOf(cascade.items(ControllerCascade::Maker)),
                 QStringList({"Acme_corp", "Daktronics", "Fair-Play", "NEVCO", "Varsity / Sportable"}));
        QCOMPARE(cascade.current(ControllerCascade::Maker), QStringLiteral("acme_corp"));
        // The first maker's first model, and its sport-less entry leaves the sport empty.
        QCOMPARE(cascade.current(ControllerCascade::Model), QStringLiteral("X1"));
        QVERIFY(cascade.items(ControllerCascade::Sport).isEmpty());
        QCOMPARE(cascade.current(ControllerCascade::Sport), QString());
        // Inputs still follow, matched against the empty sport; saving then refuses the
        // incomplete choice.
        QCOMPARE(labelsOf(cascade.items(ControllerCascade::Input)), QStringList({"Fiber link"}));
        QCOMPARE(cascade.selection(), c("acme_corp", "X1", "", "fiber_link"));
    }

    void levelsFilterByTheSelectionsAbove()
    {
        ControllerCascade cascade;
        cascade.setChoices(kDeviceList);
        cascade.pick(ControllerCascade::Maker, QStringLiteral("daktronics"));
        QCOMPARE(ids(cascade.items(ControllerCascade::Model)), QStringList({"5000", "All Sport"}));
        QCOMPARE(cascade.current(ControllerCascade::Model), QStringLiteral("5000"));
        QCOMPARE(ids(cascade.items(ControllerCascade::Sport)), QStringList({"basketball", "football"}));
        QCOMPARE(ids(cascade.items(ControllerCascade::Input)), QStringList({"rs232"}));

        cascade.pick(ControllerCascade::Sport, QStringLiteral("football"));
        QCOMPARE(labelsOf(cascade.items(ControllerCascade::Input)), QStringList({"Current loop (CL)"}));
        QCOMPARE(cascade.selection(), c("daktronics", "5000", "football", "cl"));

        cascade.pick(ControllerCascade::Model, QStringLiteral("All Sport"));
        QCOMPARE(cascade.current(ControllerCascade::Sport), QStringLiteral("basketball"));
        QCOMPARE(labelsOf(cascade.items(ControllerCascade::Input)), QStringList({"Wireless channel 3"}));
        QCOMPARE(cascade.selection(), c("daktronics", "All Sport", "basketball", "Channel_3"));
    }

    void preferenceSelectsAStoredConfiguration()
    {
        ControllerCascade cascade;
        const ControllerChoice stored = c("daktronics", "5000", "football", "cl");
        QVERIFY(cascade.contains(stored) == false);
        cascade.setChoices(kDeviceList, stored);
        QVERIFY(cascade.contains(stored));
        QCOMPARE(cascade.selection(), stored);

        // A configuration the device did not list is not preselected level by level
        // beyond what fits: unknown values fall to the first item.
        cascade.setChoices(kDeviceList, c("daktronics", "9999", "football", "cl"));
        QCOMPARE(cascade.current(ControllerCascade::Maker), QStringLiteral("daktronics"));
        QCOMPARE(cascade.current(ControllerCascade::Model), QStringLiteral("5000"));
        QCOMPARE(cascade.current(ControllerCascade::Sport), QStringLiteral("football"));
        QVERIFY(!cascade.contains(c("daktronics", "9999", "football", "cl")));
    }

    void emptyListLeavesEveryLevelEmpty()
    {
        ControllerCascade cascade;
        cascade.setChoices({});
        for (int level = 0; level < ControllerCascade::LevelCount; ++level)
            QVERIFY(cascade.items(static_cast<ControllerCascade::Level>(level)).isEmpty());
        QCOMPARE(cascade.selection(), ControllerChoice{});
        cascade.pick(ControllerCascade::Maker, QStringLiteral("nevco"));
        QCOMPARE(cascade.selection(), ControllerChoice{});
    }
};

QTEST_GUILESS_MAIN(TestControllerCatalog)
#include "tst_ControllerCatalog.moc"
