#pragma once

#include "device/settings/ControllerChoice.h"

#include <QList>
#include <QString>
#include <array>

namespace corvane {

// The four linked choices (maker, model, sport, input type) built from the controllers a
// device reports. Each level lists the distinct values that fit the selections above it,
// sorted by label; the controller panel mirrors these levels in its combo boxes.
class ControllerCascade {
public:
    enum Level { Maker, Model, Sport, Input, LevelCount };

    struct Item {
        QString id;
        QString label;
    };

    // Takes the device's list and fills every level, selecting `preferred` where it fits.
    void setChoices(const QList<ControllerChoice> &choices, const ControllerChoice &preferred = {});
    // The user picked `id` at `level`: the levels below fall back to their first items.
    void pick(Level level, const QString &id);

    const QList<ControllerChoice> &choices() const { return m_choices; }
    const QList<Item> &items(Level level) const { return m_levels[level].items; }
    // The identifier selected at `level`, or empty when the level has no items.
    QString current(Level level) const;
    ControllerChoice selection() const;
    bool contains(const ControllerChoice &choice) const { return m_choices.contains(choice); }

private:
    struct LevelState {
        QList<Item> items;
        int current = -1;
    };

    void fill(Level level, const ControllerChoice &preferred);

    QList<ControllerChoice> m_choices;
    std::array<LevelState, LevelCount> m_levels;
};

} // namespace corvane
