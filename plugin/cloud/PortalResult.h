#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace corvane {

// The outcome of one cloud portal request.
struct PortalResult {
    bool ok = false;      // the request went through and the status is 2xx
    int status = 0;       // HTTP status; 0 when no HTTP answer arrived
    QJsonObject data;     // the body when it is a JSON object (also on errors)
    QString code;         // on failure: the portal's error code, may be empty
    QString message;      // on failure: a sentence for the user; empty on success
};

// The user-facing sentence for a failed portal request.
QString describeError(int status, const QString &code, const QString &detail);

// Builds the result of a finished request from what arrived: whether the transport worked,
// the HTTP status (0 when none) and the raw body.
PortalResult portalResultFromReply(bool transportOk, int status, const QByteArray &body);

} // namespace corvane
