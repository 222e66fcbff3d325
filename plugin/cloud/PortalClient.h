#pragma once

#include "cloud/CloudDevice.h"
#include "cloud/GraphicsOutput.h"
#include "cloud/PortalClientJar.h"
#include "cloud/PortalResult.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace corvane {

// REST client of the cloud portal. Every call is asynchronous and ends in exactly one
// callback with a PortalResult; the portal's cookies, kept in session.json by the jar, are
// the only credential. Lives on the user-interface thread.
class PortalClient : public QObject {
    Q_OBJECT
public:
    using Jar = PortalClientJar;
    using Callback = std::function<void(const PortalResult &)>;

    static constexpr int kTimeoutMs = 20000;

    explicit PortalClient(QObject *parent = nullptr);
    ~PortalClient() override;

    // The origin every path is appended to, without a trailing slash.
    void setBaseUrl(const QString &baseUrl) { m_baseUrl = baseUrl; }
    QString baseUrl() const { return m_baseUrl; }
    Jar &jar() { return *m_jar; }

    bool isSignedIn() const { return m_signedIn; }
    QString email() const { return m_email; }
    QString role() const { return m_role; }

    void signIn(const QString &email, const QString &password, Callback callback);
    void signInWithCode(const QString &challengeId, const QString &code, Callback callback);
    void restoreSession(Callback callback);
    void signOut();

    void listDevices(Callback callback);
    void listOutputs(Callback callback);
    void getDeviceState(const QString &deviceId, Callback callback);
    void sendCommand(const QString &deviceId, const QString &name, const QJsonObject &args, Callback callback);
    void sendConfig(const QString &deviceId, const QJsonObject &config, Callback callback);
    void linkDevice(const QString &deviceId, const QString &claimCode, const QString &via, Callback callback);
    void revealPairing(const QString &deviceId, Callback callback);
    void putPairing(const QString &deviceId, const QString &adminPassword, Callback callback);

    // The one request primitive. A 401 on a call made with `signOutOn401` while signed in
    // signs the user out (the cookies stay). The body goes out as compact JSON.
    void sendRequest(const QByteArray &method, const QString &path, const std::optional<QJsonObject> &body,
                     Callback callback, bool signOutOn401);

    // Test seam: a shorter transfer timeout than the 20 s a real portal gets.
    void setTimeoutForTests(int milliseconds) { m_timeoutMs = milliseconds; }

Q_SIGNALS:
    void signedInChanged(bool signedIn);

private:
    // sendRequest with the body already written (empty for none), so that the operations
    // keep the documented key order.
    void sendPayload(const QByteArray &method, const QString &path, const QByteArray &payload, Callback callback,
                     bool signOutOn401);
    void applySignedIn(const PortalResult &result);
    void setSignedIn(bool signedIn);
    QString devicePath(const QString &deviceId) const;

    QNetworkAccessManager m_manager;
    Jar *m_jar; // owned by m_manager once installed
    QString m_baseUrl;
    bool m_signedIn = false;
    QString m_email;
    QString m_role;
    int m_timeoutMs = kTimeoutMs;
};

} // namespace corvane
