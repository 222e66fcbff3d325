#pragma once

#include <QJsonObject>
#include <QString>

namespace corvane {

// The device's ESP-NOW wireless transmitter, which sends its scores to a wireless receiver.
struct WirelessLink {
    bool present = false;     // the answer held a non-empty "espnow" object
    bool transmitter = false; // sending, or set to send after the next restart
    bool keySet = false;      // only meaningful with a receiver address
    QString peerMac;
    QString startError;

    // Reads a "getEspNow" result.
    static WirelessLink fromEspNowResult(const QJsonObject &result);
};

} // namespace corvane
