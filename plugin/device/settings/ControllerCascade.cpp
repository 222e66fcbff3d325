#include "device/settings/ControllerCascade.h"

#include "device/settings/ControllerCatalog.h"

#include <algorithm>

namespace corvane {

namespace {

const QString &keyOf(const ControllerChoice &choice, ControllerCascade::Level level)
{
    switch (level) {
    case ControllerCascade::Maker:
        return choice.manufacturer;
    case ControllerCascade::Model:
        return choice.model;
    case ControllerCascade::Sport:
        return choice.sport;
    default:
        return choice.inputType;
    }
}

QString labelOf(const QString &id, ControllerCascade::Level level)
{
    switch (level) {
    case ControllerCascade::Maker:
        return makerLabel(id);
    case ControllerCascade::Model:
        return id;
    case ControllerCascade::Sport:
        return sportLabel(id);
    default:
        return inputLabel(id);
    }
}

} // namespace

void ControllerCascade::setChoices(const QList<ControllerChoice> &choices, const ControllerChoice &preferred)
{
    m_choices = choices;
    fill(Maker, preferred);
}

void ControllerCascade::fill(Level level, const ControllerChoice &preferred)
{
    const ControllerChoice above = selection();
    QList<Item> items;
    for (const ControllerChoice &choice : m_choices) {
        bool fits = true;
        for (int upper = Maker; upper < level; ++upper) {
            const auto l = static_cast<Level>(upper);
            fits = fits && keyOf(choice, l) == keyOf(above, l);
        }
        const QString &key = keyOf(choice, level);
        const bool seen = std::any_of(items.cbegin(), items.cend(), [&key](const Item &item) { return item.id == key; });
        if (fits && !key.isEmpty() && !seen)
            items.append({key, labelOf(key, level)});
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const Item &a, const Item &b) { return a.label.toLower() < b.label.toLower(); });

    LevelState &state = m_levels[level];
    state.items = items;
    state.current = items.isEmpty() ? -1 : 0;
    const QString &wanted = keyOf(preferred, level);
    for (int i = 0; i < items.size(); ++i) {
        if (items.at(i).id == wanted)
            state.current = i;
    }
    if (level + 1 < LevelCount)
        fill(static_cast<Level>(level + 1), preferred);
}

void ControllerCascade::pick(Level level, const QString &id)
{
    LevelState &state = m_levels[level];
    for (int i = 0; i < state.items.size(); ++i) {
        if (state.items.at(i).id == id)
            state.current = i;
    }
    if (level + 1 < LevelCount)
        fill(static_cast<Level>(level + 1), {});
}

QString ControllerCascade::current(Level level) const
{
    const LevelState &state = m_levels[level];
    return state.current < 0 ? QString() : state.items.at(state.current).id;
}

ControllerChoice ControllerCascade::selection() const
{
    return {current(Maker), current(Model), current(Sport), current(Input)};
}

} // namespace corvane
