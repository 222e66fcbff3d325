#pragma once

#include <QMap>
#include <QString>

namespace corvane {

// One moment of the scoreboard as a value: what a template, a condition or a chapter reads.
// The name "sport" reads the live sport, as it does in the score text's templates.
struct ScoreState {
    QString sport;
    QMap<QString, QString> fields;

    bool isEmpty() const { return fields.isEmpty() && sport.isEmpty(); }
    QString value(const QString &name) const
    {
        return name == QLatin1String("sport") ? sport : fields.value(name);
    }
    bool operator==(const ScoreState &other) const { return sport == other.sport && fields == other.fields; }
    bool operator!=(const ScoreState &other) const { return !(*this == other); }
};

} // namespace corvane
