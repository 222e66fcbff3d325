#include "cloud/PortalResult.h"

#include <QJsonDocument>

namespace corvane {

namespace {

// One row of the error table: a match on either the code or the status (0 = no status
// match, -1 = the "no answer" status 0 itself). The first matching row wins.
struct ErrorRow {
    const char *codes[2];
    int status;
    const char *message;
};

constexpr int kNoAnswer = -1;

constexpr ErrorRow kErrorRows[] = {
    {{"invalid_credentials", nullptr}, 0, "That email and password did not match. Check them and try again."},
    {{"invalid_totp_code", nullptr}, 0,
     "That code was not accepted. Enter the current 6-digit code from your authenticator app."},
    {{"rate_limited", nullptr}, 429, "Too many attempts. Wait a minute and try again."},
    {{"cloud_subscription_required", nullptr}, 402, "This device needs an active Corvane cloud plan for that."},
    {{"device_unreachable_or_timeout", nullptr}, 504,
     "The device did not answer. Check that it is powered on and online."},
    {{"gateway_unreachable", nullptr}, 502,
     "The Corvane service could not reach the live data feed. Try again shortly."},
    {{"device_not_found_or_not_owned", "claim_code_device_mismatch"}, 0, "That device is not on this account."},
    {{"not_authenticated", nullptr}, 401, "You have been signed out. Sign in again."},
    {{nullptr, nullptr}, 403, "Your account role is not allowed to do that."},
    {{nullptr, nullptr}, kNoAnswer, "Could not reach Corvane. Check your internet connection."},
};

bool matches(const ErrorRow &row, int status, const QString &code)
{
    for (const char *c : row.codes) {
        if (c && !code.isEmpty() && code == QLatin1String(c))
            return true;
    }
    if (row.status == kNoAnswer)
        return status == 0;
    return row.status != 0 && row.status == status;
}

} // namespace

QString describeError(int status, const QString &code, const QString &detail)
{
    for (const ErrorRow &row : kErrorRows) {
        if (matches(row, status, code))
            return QString::fromUtf8(row.message);
    }
    if (!detail.isEmpty())
        return detail;
    return QStringLiteral("Corvane returned an error (%1).").arg(status);
}

PortalResult portalResultFromReply(bool transportOk, int status, const QByteArray &body)
{
    PortalResult result;
    result.status = status;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (doc.isObject())
        result.data = doc.object();
    result.ok = transportOk && status >= 200 && status <= 299;
    if (result.ok)
        return result;

    QString detailText;
    const QJsonValue detail = result.data.value(QLatin1String("detail"));
    if (detail.isObject())
        result.code = detail.toObject().value(QLatin1String("error")).toString();
    else if (detail.isString())
        detailText = detail.toString();
    if (result.code.isEmpty())
        result.code = result.data.value(QLatin1String("error")).toString();
    result.message = describeError(status, result.code, detailText);
    return result;
}

} // namespace corvane
