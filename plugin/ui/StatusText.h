#pragma once

#include <QCoreApplication>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

namespace corvane {

// The status panel's texts, built from the device's answers without any widget: the
// status lines, the live scoreboard section and the network test view.
class StatusText {
    Q_DECLARE_TR_FUNCTIONS(StatusText)
public:
    // "Label: value" for each member of a "getStatus" result, the well-known keys first.
    static QStringList statusLines(const QJsonObject &status);
    // The readable name of a status key; the key itself when it has none.
    static QString statusLabel(const QString &key);
    // A member's value as text; an object becomes "name=value" pairs joined by ", ".
    static QString valueText(const QJsonValue &value);
    // The live section for one envelope, or an empty list when it carries no fields.
    static QStringList liveLines(const QJsonObject &envelope);
    static QString noLiveDataText();
    // The network test view for one "networkTest" answer.
    static QString networkTestText(const QJsonObject &answer);
};

} // namespace corvane
