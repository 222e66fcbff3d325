#pragma once

#include "ui/PanelBase.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

// The Security tab: the live feed's fingerprint and access token, the Bluetooth passkey and
// the admin password.
class SecurityPanel : public PanelBase {
    Q_OBJECT
public:
    explicit SecurityPanel(DeviceSession *session, QWidget *parent = nullptr);

    void refresh() override;

    QLineEdit *fingerprintField() const { return m_fingerprint; }
    QLineEdit *tokenField() const { return m_token; }
    QLabel *tokenNote() const { return m_tokenNote; }
    QLineEdit *passkeyField() const { return m_passkey; }
    QLineEdit *currentPasswordField() const { return m_current; }
    QLineEdit *newPasswordField() const { return m_new; }
    QLineEdit *repeatPasswordField() const { return m_repeat; }
    QPushButton *newTokenButton() const { return m_newToken; }
    QPushButton *copyTokenButton() const { return m_copyToken; }
    QPushButton *passkeyButton() const { return m_showPasskey; }
    QPushButton *changePasswordButton() const { return m_changePassword; }

    // The first reason the typed passwords cannot be sent, or empty when they can.
    static QString passwordProblem(const QString &current, const QString &next, const QString &repeat);

Q_SIGNALS:
    void apiToken(const QString &token);
    void passwordChanged(const QString &newPassword);

private:
    void makeNewToken();
    void showPasskey();
    void changePassword();

    QLineEdit *m_fingerprint = nullptr;
    QLineEdit *m_token = nullptr;
    QLabel *m_tokenNote = nullptr;
    QPushButton *m_newToken = nullptr;
    QPushButton *m_copyToken = nullptr;
    QLineEdit *m_passkey = nullptr;
    QPushButton *m_showPasskey = nullptr;
    QLineEdit *m_current = nullptr;
    QLineEdit *m_new = nullptr;
    QLineEdit *m_repeat = nullptr;
    QPushButton *m_changePassword = nullptr;
};

} // namespace corvane
