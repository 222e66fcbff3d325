#include "live/PeriodFields.h"

#include "live/PeriodFieldsTable.h"
#include "live/ScoreState.h"

namespace corvane {

QStringList PeriodFields::names()
{
    QStringList out;
    for (const generated::PeriodFieldRow &row : generated::kPeriodFieldRows)
        out << QString::fromLatin1(row.name);
    return out;
}

bool PeriodFields::isPeriodField(const QString &name)
{
    for (const generated::PeriodFieldRow &row : generated::kPeriodFieldRows)
        if (name == QLatin1String(row.name))
            return true;
    return false;
}

QString PeriodFields::value(const ScoreState &state)
{
    for (const generated::PeriodFieldRow &row : generated::kPeriodFieldRows) {
        const QString text = state.value(QString::fromLatin1(row.name)).trimmed();
        if (!text.isEmpty())
            return text;
    }
    return {};
}

} // namespace corvane
