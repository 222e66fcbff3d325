#pragma once

#include "live/ScoreState.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <mutex>

namespace corvane {

// The current scoreboard: named text fields, the sport, and when the last message came.
// Every live route hands its messages to apply(). OBS reads the fields from its own threads
// while the user-interface thread applies messages, so every member except the source
// label is guarded by one lock; signals go out after it is released.
class LiveData : public QObject {
    Q_OBJECT
public:
    explicit LiveData(QObject *parent = nullptr);

    // Merges one live message. True when it was accepted, even if nothing changed; false
    // when it was empty or of a type this model ignores.
    bool apply(const QJsonObject &message);
    // Forgets fields, sport and time (not the source); silent when already empty.
    void clear();

    QString value(const QString &name) const;
    QStringList fieldNames() const;
    QString sport() const;
    QDateTime updatedAt() const;
    // Sport and fields at once, copied under one lock: a reader on another thread never
    // sees half of an update.
    ScoreState state() const;
    QJsonObject snapshot() const;
    // The snapshot as compact JSON, serialised once per state however many readers ask (the
    // hosted server, obs-websocket's event). On the user-interface thread, like source().
    QByteArray snapshotJson() const;

    QString source() const { return m_source; }
    void setSource(const QString &source);

    // How a field's JSON value is stored: booleans and numbers as text, null as "".
    static QString fieldText(const QJsonValue &value);

    // What a feed may make the model keep, far above any real scoreboard: a feed that
    // keeps inventing names or sends huge texts must not grow memory, every snapshot and
    // every hosted client's line without end. New names past the count, and names or
    // values (the sport included) past their length, are dropped.
    static constexpr qsizetype MaxFields = 1024;
    static constexpr qsizetype MaxNameLength = 256;
    static constexpr qsizetype MaxValueLength = 4096;

Q_SIGNALS:
    void changed();
    void fieldsChanged(const QStringList &names);
    void sourceChanged();

private:
    mutable std::mutex m_lock;
    QString m_sport;
    QMap<QString, QString> m_fields;
    QString m_source;
    QDateTime m_updatedAt;
    // Grows with every accepted message, clear and source change; the serialised snapshot
    // is kept for the version it was made from.
    quint64 m_version = 0;
    mutable quint64 m_jsonVersion = ~quint64(0);
    mutable QByteArray m_json;
    // Set while messages keep bringing what is beyond the bounds, so that a run of them
    // is logged once.
    bool m_dropping = false;
};

} // namespace corvane
