#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace corvane {

// One scoreboard controller the device can read. Each member is an identifier such as
// "daktronics", "5000", "football" or "rs232".
struct ControllerChoice {
    QString manufacturer;
    QString model;
    QString sport;
    QString inputType; // "input_type" on the wire

    bool operator==(const ControllerChoice &other) const
    {
        return manufacturer == other.manufacturer && model == other.model && sport == other.sport &&
               inputType == other.inputType;
    }
    bool operator!=(const ControllerChoice &other) const { return !(*this == other); }

    // The controllers of a "listControllers" result; one seen again is dropped (the first
    // occurrence wins).
    static QList<ControllerChoice> fromListResult(const QJsonObject &result);
};

} // namespace corvane
