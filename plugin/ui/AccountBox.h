#pragma once

#include "cloud/PortalResult.h"

#include <QGroupBox>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class App;

// The dock's sign-in form for the optional cloud account, with the authenticator step and
// the links to make an account or reset a password.
class AccountBox : public QGroupBox {
    Q_OBJECT
public:
    explicit AccountBox(App *app, QWidget *parent = nullptr);

    void doSignIn();

private:
    void onSignInAnswer(const PortalResult &result);
    void openPortalPage(const QString &page);

    App *m_app;
    QString m_challengeId;
    QLineEdit *m_email = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_code = nullptr;
    QPushButton *m_signIn = nullptr;
    QLabel *m_message = nullptr;
};

} // namespace corvane
