// The plugin is built in floors, ground first; a file includes only from its own floor and
// the floors below it, the transports under device/ never include one another, and only
// the OBS-facing floors see libobs. This test reads every #include under plugin/.
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

// The floor order, ground first. A folder under plugin/ that is not listed is an error, so
// a new floor has to be placed here.
const QStringList kFloors = {"base", "device", "cloud", "live", "update", "app", "ui", "obs"};
// Folders of device/ that stand beside each other.
const QStringList kTransports = {"usb", "lan", "ble"};
// Floors that may include libobs and OBS's front-end API.
const QStringList kObsFloors = {"ui", "obs"};

bool isObsHeader(const QString &header)
{
    static const QRegularExpression obs(QStringLiteral("^(obs[-.\\w]*\\.h|(util|graphics|callback|media-io)/.*)$"));
    return obs.match(header).hasMatch();
}

// Floor index and transport folder ("" outside one) of a path relative to plugin/.
struct Place {
    int floor = -1;
    QString transport;
};

Place placeOf(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    Place place;
    place.floor = int(kFloors.indexOf(parts.first()));
    if (parts.first() == QLatin1String("device") && parts.size() > 2 && kTransports.contains(parts.at(1)))
        place.transport = parts.at(1);
    return place;
}

// What is wrong with one include line of `file`, or an empty string.
QString checkInclude(const Place &from, QChar kind, const QString &header)
{
    if (kind == QLatin1Char('<'))
        return isObsHeader(header) && !kObsFloors.contains(kFloors.value(from.floor))
                   ? QStringLiteral("libobs header <%1> outside %2").arg(header, kObsFloors.join(QStringLiteral(" and ")))
                   : QString();
    if (header.endsWith(QLatin1String(".moc")))
        return {};
    if (header.contains(QLatin1String("..")) || !header.contains(QLatin1Char('/')))
        return QStringLiteral("\"%1\" is not written from plugin/ (floor/...)").arg(header);
    const Place to = placeOf(header);
    if (to.floor < 0)
        return QStringLiteral("\"%1\" is in no floor").arg(header);
    if (to.floor > from.floor)
        return QStringLiteral("upward include of \"%1\" from %2/").arg(header, kFloors.at(from.floor));
    if (!from.transport.isEmpty() && !to.transport.isEmpty() && from.transport != to.transport)
        return QStringLiteral("sideways include of \"%1\" from device/%2/").arg(header, from.transport);
    return {};
}

// Every violation in one file's text, as "path:line: what".
QStringList violations(const QString &path, const QByteArray &text)
{
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*([<\"])([^>\"]+)[>\"]"));
    const Place from = placeOf(path);
    if (from.floor < 0)
        return {QStringLiteral("%1: the folder is in no floor").arg(path)};
    QStringList found;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = include.match(QString::fromUtf8(lines.at(i)));
        if (!m.hasMatch())
            continue;
        const QString problem = checkInclude(from, m.captured(1).at(0), m.captured(2));
        if (!problem.isEmpty())
            found << QStringLiteral("%1:%2: %3").arg(path).arg(i + 1).arg(problem);
    }
    return found;
}

} // namespace

class TestIncludeRule : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void treeFollowsTheRule()
    {
        const QString root = QStringLiteral(CORVANE_SOURCE_DIR "/plugin/");
        QStringList found;
        int files = 0;
        QDirIterator it(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp"), QStringLiteral("*.in")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            found << violations(file.fileName().mid(root.size()), file.readAll());
            ++files;
        }
        QVERIFY2(files > 50, "the plugin's sources were not found");
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
    }

    void plantedIncludes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("problem"); // empty: allowed

        QTest::newRow("upward") << "base/Log.cpp" << "#include \"device/DeviceLink.h\"" << "upward include";
        QTest::newRow("upward from a transport") << "device/usb/UsbLink.cpp" << "#include \"live/LiveData.h\"" << "upward include";
        QTest::newRow("app from obs is down") << "obs/Module.cpp" << "#include \"app/App.h\"" << "";
        QTest::newRow("sideways transport") << "device/usb/UsbLink.cpp" << "#  include \"device/lan/HttpLink.h\"" << "sideways include";
        QTest::newRow("transport to rpc") << "device/ble/BleLink.cpp" << "#include \"device/rpc/RpcClient.h\"" << "";
        QTest::newRow("transport to its link") << "device/lan/HttpLink.h" << "#include \"device/DeviceLink.h\"" << "";
        QTest::newRow("libobs below obs") << "live/LiveData.cpp" << "#include <obs-module.h>" << "libobs header";
        QTest::newRow("libobs util below obs") << "base/Log.h" << "#include <util/base.h>" << "libobs header";
        QTest::newRow("frontend api in ui") << "ui/Dock.cpp" << "#include <obs-frontend-api.h>" << "";
        QTest::newRow("Qt anywhere") << "base/Origins.cpp" << "#include <QUrl>" << "";
        QTest::newRow("relative path") << "device/DeviceSession.cpp" << "#include \"../app/App.h\"" << "not written from plugin/";
        QTest::newRow("bare name") << "live/LiveData.cpp" << "#include \"LiveData.h\"" << "not written from plugin/";
        QTest::newRow("unknown floor") << "live/LiveData.cpp" << "#include \"core/App.h\"" << "in no floor";
        QTest::newRow("file outside the floors") << "core/App.cpp" << "#include <QObject>" << "in no floor";
    }

    void plantedIncludes()
    {
        QFETCH(QString, path);
        QFETCH(QString, line);
        QFETCH(QString, problem);
        const QStringList found = violations(path, "// a file\n" + line.toUtf8() + '\n');
        if (problem.isEmpty()) {
            QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
        } else {
            QCOMPARE(found.size(), 1);
            QVERIFY2(found.first().contains(problem), qPrintable(found.first()));
            // The report names the file, and the line when the folder itself is right.
            QVERIFY2(found.first().startsWith(path + QStringLiteral(":2: ")) || path.startsWith(QLatin1String("core/")),
                     qPrintable(found.first()));
        }
    }
};

QTEST_APPLESS_MAIN(TestIncludeRule)
#include "tst_IncludeRule.moc"
