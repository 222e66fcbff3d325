#include "device/settings/ControllerCatalog.h"

#include <QHash>

namespace corvane {

namespace {

QString upperFirst(QString text)
{
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    return text;
}

QStringList channelInputs()
{
    QStringList inputs;
    for (int channel = 1; channel <= 10; ++channel)
        inputs << QStringLiteral("channel_%1").arg(channel);
    inputs << QStringLiteral("ethernet_bridge");
    return inputs;
}

QList<CatalogEntry> buildCatalog()
{
    const auto s = [](std::initializer_list<const char *> items) {
        QStringList out;
        for (const char *item : items)
            out << QString::fromUtf8(item);
        return out;
    };
    // Kept in key order, which is the order views list the makers in.
    return {
        {QStringLiteral("allamerican"), QStringLiteral("All-American"), s({"3000", "8000", "9000"}),
         s({"rs232", "wireless"}), {}},
        {QStringLiteral("corvane"), QStringLiteral("Corvane wireless / ethernet bridge"),
         s({"Wireless Bridge", "Ethernet Bridge"}), channelInputs(), {}},
        {QStringLiteral("daktronics"), QStringLiteral("Daktronics"), s({"5000"}), s({"cl", "rs232", "wireless"}), {}},
        {QStringLiteral("electromech"), QStringLiteral("Electromech"), s({"LX"}), s({"cl"}), s({"football"})},
        {QStringLiteral("fairplay"), QStringLiteral("Fair-Play"), s({"Proline"}), s({"rs232"}), {}},
        {QStringLiteral("nevco"), QStringLiteral("NEVCO"), s({"MPC7-W", "MPC-5"}), s({"nevco"}), {}},
        {QStringLiteral("oes"), QStringLiteral("OES"), s({"ISC85X", "ISC9000", "Pro"}), s({"rs232", "rs485", "wireless"}),
         {}},
        {QStringLiteral("varsity"), QStringLiteral("Varsity / Sportable"), s({"Varsity", "Gen2"}),
         s({"rs232", "rs485", "wireless"}), {}},
    };
}

} // namespace

const QList<CatalogEntry> &controllerCatalog()
{
    static const QList<CatalogEntry> catalog = buildCatalog();
    return catalog;
}

const CatalogEntry *catalogEntry(const QString &key)
{
    const QString wanted = key.toLower();
    for (const CatalogEntry &entry : controllerCatalog()) {
        if (entry.key == wanted)
            return &entry;
    }
    return nullptr;
}

const QStringList &defaultSports()
{
    static const QStringList sports = {
        QStringLiteral("basketball"), QStringLiteral("football"), QStringLiteral("baseball"),
        QStringLiteral("volleyball"), QStringLiteral("soccer"),   QStringLiteral("hockey"),
        QStringLiteral("lacrosse"),   QStringLiteral("wrestling"),
    };
    return sports;
}

QStringList sportsOf(const CatalogEntry &entry) { return entry.sports.isEmpty() ? defaultSports() : entry.sports; }

QString makerLabel(const QString &id)
{
    if (const CatalogEntry *entry = catalogEntry(id))
        return entry->displayName;
    return upperFirst(id);
}

QString sportLabel(const QString &sport)
{
    return upperFirst(QString(sport).replace(QLatin1Char('_'), QLatin1Char(' ')));
}

QString inputLabel(const QString &inputType)
{
    static const QHash<QString, QString> labels = {
        {QStringLiteral("cl"), QStringLiteral("Current loop (CL)")},
        {QStringLiteral("rs232"), QStringLiteral("RS-232")},
        {QStringLiteral("rs485"), QStringLiteral("RS-485")},
        {QStringLiteral("rs422"), QStringLiteral("RS-422")},
        {QStringLiteral("wireless"), QStringLiteral("Wireless")},
        {QStringLiteral("nevco"), QStringLiteral("NEVCO serial")},
        {QStringLiteral("ethernet_bridge"), QStringLiteral("Ethernet bridge")},
    };
    const QString lower = inputType.toLower();
    const auto known = labels.constFind(lower);
    if (known != labels.constEnd())
        return known.value();
    const QLatin1String channel("channel_");
    if (lower.startsWith(channel))
        return QStringLiteral("Wireless channel ") + inputType.mid(channel.size());
    return sportLabel(inputType);
}

} // namespace corvane
