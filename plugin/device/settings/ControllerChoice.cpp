#include "device/settings/ControllerChoice.h"

#include <QJsonArray>
#include <QSet>
#include <QStringList>

namespace corvane {

QList<ControllerChoice> ControllerChoice::fromListResult(const QJsonObject &result)
{
    QList<ControllerChoice> choices;
    QSet<QString> seen;
    const QJsonArray list = result.value(QLatin1String("controllers")).toArray();
    for (const QJsonValue &value : list) {
        const QJsonObject entry = value.toObject();
        ControllerChoice choice;
        choice.manufacturer = entry.value(QLatin1String("manufacturer")).toString();
        choice.model = entry.value(QLatin1String("model")).toString();
        choice.sport = entry.value(QLatin1String("sport")).toString();
        choice.inputType = entry.value(QLatin1String("input_type")).toString();
        const QString key = QStringList{choice.manufacturer, choice.model, choice.sport, choice.inputType}.join(QLatin1Char('|'));
        if (seen.contains(key))
            continue;
        seen.insert(key);
        choices.append(choice);
    }
    return choices;
}

} // namespace corvane
