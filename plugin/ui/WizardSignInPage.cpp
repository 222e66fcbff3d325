#include "ui/WizardSignInPage.h"

#include "ui/SetupLabels.h"
#include "ui/SetupText.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

using setup::setHeading;
using setup::textLabel;

namespace {

QLineEdit *passwordField(const QString &name)
{
    auto *field = new QLineEdit;
    field->setEchoMode(QLineEdit::Password);
    field->setPlaceholderText(name);
    field->setAccessibleName(name);
    return field;
}

} // namespace

WizardSignInPage::WizardSignInPage(QWidget *parent)
    : QWidget(parent)
{
    m_heading = setup::headingLabel();
    m_hint = textLabel();
    m_message = textLabel();
    m_spinner = new QProgressBar;
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);

    m_password = passwordField(tr("Device admin password"));
    m_signIn = new QPushButton(tr("Sign in to device"));
    m_passwordGroup = new QGroupBox;
    auto *passwordLayout = new QVBoxLayout(m_passwordGroup);
    passwordLayout->addWidget(textLabel(tr("Enter this device's admin password. The factory password did not work.")));
    passwordLayout->addWidget(m_password);
    passwordLayout->addWidget(m_signIn);
    m_passwordGroup->hide();

    m_newPassword = passwordField(tr("New admin password"));
    m_repeat = passwordField(tr("Type it again"));
    auto *setPassword = new QPushButton(tr("Set password"));
    auto *cancel = new QPushButton(tr("Cancel"));
    m_newPasswordGroup = new QGroupBox;
    auto *newLayout = new QVBoxLayout(m_newPasswordGroup);
    newLayout->addWidget(textLabel(tr("This device still has its factory password. Choose a new admin password (at least 8 "
                                      "characters).")));
    newLayout->addWidget(m_newPassword);
    newLayout->addWidget(m_repeat);
    auto *newButtons = new QHBoxLayout;
    newButtons->addWidget(setPassword);
    newButtons->addWidget(cancel);
    newButtons->addStretch();
    newLayout->addLayout(newButtons);
    m_newPasswordGroup->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_hint);
    layout->addWidget(m_message);
    layout->addWidget(m_spinner);
    layout->addWidget(m_passwordGroup);
    layout->addWidget(m_newPasswordGroup);
    layout->addStretch();

    connect(m_signIn, &QPushButton::clicked, this, &WizardSignInPage::enterPassword);
    connect(m_password, &QLineEdit::returnPressed, this, &WizardSignInPage::enterPassword);
    connect(setPassword, &QPushButton::clicked, this, &WizardSignInPage::enterNewPassword);
    connect(cancel, &QPushButton::clicked, this, &WizardSignInPage::cancelled);
}

void WizardSignInPage::startConnecting(const QString &name, const QString &kind)
{
    m_password->clear();
    m_newPassword->clear();
    m_repeat->clear();
    resetGroups();
    m_signIn->setEnabled(true);
    m_heading->setText(QStringLiteral("<b>%1</b>").arg(tr("Connecting to %1").arg(name.toHtmlEscaped())));
    if (kind == QLatin1String("usb"))
        m_hint->setText(tr("Waiting for the device to answer. If it just powered on this can take up to a minute."));
    else if (kind == QLatin1String("ble"))
        m_hint->setText(tr("Connecting over Bluetooth. If your computer asks for a passkey, enter the 6-digit number from "
                           "the device's label."));
    else
        m_hint->setText(tr("Contacting the device on your network\u2026"));
}

void WizardSignInPage::startThroughReceiver()
{
    resetGroups();
    setHeading(m_heading, tr("Connecting to the paired device through the receiver"));
    m_hint->setText(tr("Asking the device over the wireless link. This can take up to a minute."));
}

void WizardSignInPage::resetGroups()
{
    m_passwordGroup->hide();
    m_newPasswordGroup->hide();
    m_spinner->show();
    showMessage(QString(), false);
}

void WizardSignInPage::setSpinning(bool spinning)
{
    m_spinner->setVisible(spinning);
}

void WizardSignInPage::askPassword()
{
    m_spinner->hide();
    setHeading(m_heading, tr("Device password needed"));
    m_signIn->setEnabled(true);
    m_passwordGroup->show();
    m_password->setFocus();
    showMessage(QString(), false);
}

void WizardSignInPage::askNewPassword()
{
    m_spinner->hide();
    setHeading(m_heading, tr("Choose a new device password"));
    m_newPasswordGroup->show();
    m_newPassword->setFocus();
    showMessage(QString(), false);
}

void WizardSignInPage::showLost(const QString &detail)
{
    setHeading(m_heading, tr("Connection lost"));
    showMessage(detail.isEmpty() ? tr("The connection to the device was lost. Check the cable, Bluetooth or network and try again.")
                                 : detail,
                true);
}

void WizardSignInPage::showError(const QString &text)
{
    m_passwordGroup->hide();
    m_newPasswordGroup->hide();
    m_spinner->hide();
    showFailure(text);
}

void WizardSignInPage::showFailure(const QString &text)
{
    setHeading(m_heading, tr("Could not connect"));
    showMessage(text, true);
}

void WizardSignInPage::showSigningIn()
{
    showMessage(tr("Signing in\u2026"), false);
}

void WizardSignInPage::showSigningInWithSaved()
{
    showMessage(tr("Signing in with the password saved on your account\u2026"), false);
}

void WizardSignInPage::showSavingPassword()
{
    showMessage(tr("Saving the new password\u2026"), false);
}

void WizardSignInPage::showMessage(const QString &text, bool isError)
{
    setup::showMessage(m_message, text, isError);
}

QString WizardSignInPage::typedPassword() const
{
    return m_password->text();
}

void WizardSignInPage::enterPassword()
{
    const QString password = m_password->text();
    if (!password.isEmpty())
        Q_EMIT passwordEntered(password);
}

void WizardSignInPage::enterNewPassword()
{
    const QString next = m_newPassword->text();
    const QString problem = newPasswordProblem(next, m_repeat->text());
    if (!problem.isEmpty()) {
        showMessage(problem, true);
        return;
    }
    Q_EMIT newPasswordEntered(next);
}

} // namespace corvane
