#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace corvane {

// One device of the signed-in cloud account.
struct CloudDevice {
    QString deviceId;
    QString nickname;
    QString status;
    QString blePasskey;

    // "nickname (id)", or the id alone when there is no nickname.
    QString displayName() const;
};

// The "devices" array of a GET /devices answer; entries without a device id are skipped.
QList<CloudDevice> parseDevices(const QJsonObject &data);

} // namespace corvane
