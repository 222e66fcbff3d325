#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

namespace corvane {

// A JSON object written as compact text with its members in a chosen order. Qt's writer
// sorts keys; what the plugin sends to a device, the receiver, the portal and the helper
// keeps the order in which those peers document it, since some of them read a line by its
// start rather than parse it.
class OrderedJson {
public:
    OrderedJson() = default;
    // The members of `object`: those named in `order` first, in that order, then the others
    // in ascending key order (Qt's). Nested values are written by Qt.
    explicit OrderedJson(const QJsonObject &object, const QStringList &order = {});

    // Appends one member; keys are the caller's to keep unique.
    OrderedJson &add(const QString &key, const QJsonValue &value);
    // Appends one member whose value is already compact JSON text (an ordered object).
    OrderedJson &addJson(const QString &key, const QByteArray &json);

    // No white space; strings escaped as Qt escapes them.
    QByteArray toJson() const { return '{' + m_members + '}'; }

private:
    QByteArray m_members; // "key":value pairs joined by commas
};

} // namespace corvane
