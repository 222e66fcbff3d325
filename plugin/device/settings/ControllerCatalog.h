#pragma once

#include "device/settings/ControllerChoice.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace corvane {

// The makers of scoreboard controllers this plugin knows, for the places where the device
// itself cannot be asked which controllers it reads (cloud-side management).
struct CatalogEntry {
    QString key;
    QString displayName;
    QStringList models;
    QStringList inputTypes;
    QStringList sports; // empty: any sport, see defaultSports()
};

// Every entry, ordered by key.
const QList<CatalogEntry> &controllerCatalog();
// The entry for `key` (compared in lower case), or null.
const CatalogEntry *catalogEntry(const QString &key);
// The sports offered when an entry names none, in their fixed order.
const QStringList &defaultSports();
// An entry's sports, or the default list when it names none.
QStringList sportsOf(const CatalogEntry &entry);

QString makerLabel(const QString &id);
QString sportLabel(const QString &sport);
QString inputLabel(const QString &inputType);

} // namespace corvane
