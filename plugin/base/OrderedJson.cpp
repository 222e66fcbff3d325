#include "base/OrderedJson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace corvane {

namespace {

// One value as compact JSON text: Qt writes whole documents only, so the value goes in an
// array and the brackets come off again.
QByteArray valueJson(const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

OrderedJson::OrderedJson(const QJsonObject &object, const QStringList &order)
{
    for (const QString &key : order) {
        const auto it = object.constFind(key);
        if (it != object.constEnd())
            add(key, it.value());
    }
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!order.contains(it.key()))
            add(it.key(), it.value());
    }
}

OrderedJson &OrderedJson::add(const QString &key, const QJsonValue &value)
{
    return addJson(key, valueJson(value));
}

OrderedJson &OrderedJson::addJson(const QString &key, const QByteArray &json)
{
    if (!m_members.isEmpty())
        m_members += ',';
    m_members += valueJson(key) + ':' + json;
    return *this;
}

} // namespace corvane
