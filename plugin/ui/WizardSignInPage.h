#pragma once

#include <QString>
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace corvane {

// The wizard's page while it reaches and signs in to a device: what it is doing, a spinner,
// the password the device asks for, or a new one to replace the factory password.
class WizardSignInPage : public QWidget {
    Q_OBJECT
public:
    explicit WizardSignInPage(QWidget *parent = nullptr);

    // A fresh start: the fields cleared, the spinner running.
    void startConnecting(const QString &name, const QString &kind);
    void startThroughReceiver();
    void setSpinning(bool spinning);
    void askPassword();
    void askNewPassword();
    void showLost(const QString &detail);
    // A failure that ends the attempt; the password groups go away.
    void showError(const QString &text);
    // A failure of the link itself, which may still recover.
    void showFailure(const QString &text);
    void showSigningIn();
    void showSigningInWithSaved();
    void showSavingPassword();
    void showMessage(const QString &text, bool isError);
    QString typedPassword() const;

Q_SIGNALS:
    void passwordEntered(const QString &password);
    // A new password that passed the checks.
    void newPasswordEntered(const QString &password);
    void cancelled();

private:
    void resetGroups();
    void enterPassword();
    void enterNewPassword();

    QLabel *m_heading = nullptr;
    QLabel *m_hint = nullptr;
    QLabel *m_message = nullptr;
    QProgressBar *m_spinner = nullptr;
    QGroupBox *m_passwordGroup = nullptr;
    QLineEdit *m_password = nullptr;
    QPushButton *m_signIn = nullptr;
    QGroupBox *m_newPasswordGroup = nullptr;
    QLineEdit *m_newPassword = nullptr;
    QLineEdit *m_repeat = nullptr;
};

} // namespace corvane
