#include "live/LiveData.h"

#include "base/Log.h"

#include <QJsonDocument>

#include <QSet>
#include <cmath>

namespace corvane {

namespace {

// Keys of the message envelope, never scoreboard fields.
bool isReservedKey(const QString &key)
{
    static const QSet<QString> reserved = {
        QStringLiteral("type"),         QStringLiteral("seq"),        QStringLiteral("ts_ms"),
        QStringLiteral("v"),            QStringLiteral("sport"),      QStringLiteral("online"),
        QStringLiteral("device_ts_ms"), QStringLiteral("fw_version"), QStringLiteral("transport"),
    };
    return reserved.contains(key);
}

bool isAcceptedType(const QString &type)
{
    return type.isEmpty() || type == QLatin1String("state") || type == QLatin1String("heartbeat") ||
           type == QLatin1String("auth_ok");
}

QJsonObject fieldsOf(const QJsonObject &message)
{
    const QJsonValue fields = message.value(QLatin1String("fields"));
    if (fields.isObject())
        return fields.toObject();
    const QJsonValue data = message.value(QLatin1String("data"));
    if (data.isObject())
        return data.toObject();
    return message;
}

// Readers on OBS's threads get copies that share no buffer with the stored strings. Qt
// counts references to shared buffers partly inside its own library, where ThreadSanitizer
// cannot follow; private copies keep the race detector meaningful at the cost of a few bytes.
QString ownCopy(const QString &text) { return QString(text.constData(), text.size()); }

} // namespace

LiveData::LiveData(QObject *parent)
    : QObject(parent)
{
}

QString LiveData::fieldText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (d == std::trunc(d))
            return d == 0 ? QStringLiteral("0") : QString::number(d, 'f', 0);
        return QString::number(d, 'g', 6);
    }
    case QJsonValue::String:
        return value.toString();
    default:
        return QString();
    }
}

bool LiveData::apply(const QJsonObject &message)
{
    if (message.isEmpty())
        return false;
    if (!isAcceptedType(message.value(QLatin1String("type")).toString()))
        return false;
    const QJsonObject fields = fieldsOf(message);
    const QString sport = message.value(QLatin1String("sport")).toString();

    QStringList added;
    bool changedAny = false;
    qsizetype dropped = 0;
    bool startsRun = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (sport.size() > MaxValueLength) {
            ++dropped;
        } else if (!sport.isEmpty() && sport != m_sport) {
            m_sport = sport;
            changedAny = true;
        }
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            if (isReservedKey(it.key()) || it.value().isObject() || it.value().isArray())
                continue;
            const QString text = fieldText(it.value());
            auto existing = m_fields.find(it.key());
            if (text.size() > MaxValueLength
                || (existing == m_fields.end() && (it.key().size() > MaxNameLength || m_fields.size() >= MaxFields))) {
                ++dropped;
            } else if (existing == m_fields.end()) {
                m_fields.insert(it.key(), text);
                added.append(it.key());
                changedAny = true;
            } else if (existing.value() != text) {
                existing.value() = text;
                changedAny = true;
            }
        }
        m_updatedAt = QDateTime::currentDateTimeUtc();
        ++m_version;
        startsRun = dropped > 0 && !m_dropping;
        m_dropping = dropped > 0;
    }
    if (startsRun)
        CORVANE_LOG_WARNING("live data beyond the bounds dropped (%lld items in one message; at most %lld fields, "
                            "names of %lld and values of %lld characters); further drops in a row are not logged",
                            static_cast<long long>(dropped), static_cast<long long>(MaxFields),
                            static_cast<long long>(MaxNameLength), static_cast<long long>(MaxValueLength));
    if (!added.isEmpty())
        Q_EMIT fieldsChanged(added);
    if (changedAny)
        Q_EMIT changed();
    return true;
}

void LiveData::clear()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_dropping = false;
        if (m_fields.isEmpty() && m_sport.isEmpty())
            return;
        m_fields.clear();
        m_sport.clear();
        m_updatedAt = QDateTime();
        ++m_version;
    }
    Q_EMIT fieldsChanged({});
    Q_EMIT changed();
}

QString LiveData::value(const QString &name) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return ownCopy(m_fields.value(name));
}

QStringList LiveData::fieldNames() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    QStringList names;
    names.reserve(m_fields.size());
    for (auto it = m_fields.keyBegin(); it != m_fields.keyEnd(); ++it)
        names.append(ownCopy(*it));
    return names;
}

QString LiveData::sport() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return ownCopy(m_sport);
}

ScoreState LiveData::state() const
{
    ScoreState state;
    std::lock_guard<std::mutex> guard(m_lock);
    state.sport = ownCopy(m_sport);
    for (auto it = m_fields.cbegin(); it != m_fields.cend(); ++it)
        state.fields.insert(ownCopy(it.key()), ownCopy(it.value()));
    return state;
}

QDateTime LiveData::updatedAt() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_updatedAt;
}

QJsonObject LiveData::snapshot() const
{
    QJsonObject fields;
    QString sport;
    QString updatedAt;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_fields.cbegin(); it != m_fields.cend(); ++it)
            fields.insert(it.key(), it.value());
        sport = ownCopy(m_sport);
        if (m_updatedAt.isValid())
            updatedAt = m_updatedAt.toString(Qt::ISODate);
    }
    return {{QStringLiteral("sport"), sport},
            {QStringLiteral("fields"), fields},
            {QStringLiteral("source"), m_source},
            {QStringLiteral("updated_at"), updatedAt}};
}

QByteArray LiveData::snapshotJson() const
{
    quint64 version = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_jsonVersion == m_version)
            return m_json;
        version = m_version;
    }
    const QByteArray json = QJsonDocument(snapshot()).toJson(QJsonDocument::Compact);
    std::lock_guard<std::mutex> guard(m_lock);
    // A message applied meanwhile (OBS's threads may apply too) leaves this one uncached.
    if (m_version == version) {
        m_json = json;
        m_jsonVersion = version;
    }
    return json;
}

void LiveData::setSource(const QString &source)
{
    if (source == m_source)
        return;
    m_source = source;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_version;
    }
    Q_EMIT sourceChanged();
}

} // namespace corvane
