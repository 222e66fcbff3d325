#include "ui/AccountBox.h"

#include "app/App.h"
#include "ui/DockLabels.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace corvane {

AccountBox::AccountBox(App *app, QWidget *parent)
    : QGroupBox(tr("Corvane account (optional)"), parent)
    , m_app(app)
{
    m_email = new QLineEdit;
    m_email->setPlaceholderText(tr("Email"));
    m_email->setAccessibleName(tr("Email"));
    m_password = new QLineEdit;
    m_password->setPlaceholderText(tr("Password"));
    m_password->setAccessibleName(tr("Password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_code = new QLineEdit;
    m_code->setPlaceholderText(tr("6-digit code from your authenticator app"));
    m_code->setAccessibleName(tr("Authenticator code"));
    m_code->setMaxLength(12);
    m_code->hide();
    m_signIn = new QPushButton(tr("Sign in"));
    m_signIn->setDefault(true);
    m_message = dock::wrappedLabel();
    auto *links = new QLabel(QStringLiteral("<a href=\"signup\">%1</a> &nbsp;·&nbsp; <a href=\"reset\">%2</a>")
                                 .arg(tr("Create an account"), tr("Forgot password?")));
    auto *layout = new QVBoxLayout;
    layout->addWidget(dock::hintLabel(tr("Sign in to see your account's devices and graphics. Not needed to set up or manage a "
                                         "device, or to show scores from one connected to this computer.")));
    layout->addWidget(m_email);
    layout->addWidget(m_password);
    layout->addWidget(m_code);
    layout->addWidget(m_signIn);
    layout->addWidget(m_message);
    layout->addWidget(links);
    setLayout(layout);

    connect(m_signIn, &QPushButton::clicked, this, &AccountBox::doSignIn);
    connect(m_password, &QLineEdit::returnPressed, this, &AccountBox::doSignIn);
    connect(m_code, &QLineEdit::returnPressed, this, &AccountBox::doSignIn);
    connect(links, &QLabel::linkActivated, this, [this](const QString &link) {
        openPortalPage(link == QLatin1String("signup") ? QStringLiteral("/signup.html") : QStringLiteral("/reset.html"));
    });
}

void AccountBox::doSignIn()
{
    m_message->setStyleSheet(QString());
    m_signIn->setEnabled(false);
    const QPointer<AccountBox> self(this);
    auto answered = [self](const PortalResult &result) {
        if (AccountBox *box = self.data())
            box->onSignInAnswer(result);
    };
    if (!m_challengeId.isEmpty() && m_code->isVisibleTo(this))
        m_app->portal().signInWithCode(m_challengeId, m_code->text(), answered);
    else
        m_app->portal().signIn(m_email->text(), m_password->text(), answered);
}

void AccountBox::onSignInAnswer(const PortalResult &result)
{
    m_signIn->setEnabled(true);
    if (!result.ok) {
        m_message->setStyleSheet(QString::fromLatin1(dock::kErrorStyle));
        m_message->setText(result.message);
        return;
    }
    if (result.data.value(QStringLiteral("totp_required")).toBool()) {
        m_challengeId = result.data.value(QStringLiteral("challenge_id")).toString();
        m_code->show();
        m_code->setFocus();
        m_message->setText(tr("Enter the code from your authenticator app."));
        return;
    }
    m_password->clear();
    m_code->clear();
    m_code->hide();
    m_challengeId.clear();
    m_message->clear();
}

void AccountBox::openPortalPage(const QString &page)
{
    QDesktopServices::openUrl(QUrl(m_app->portal().baseUrl() + page));
}

} // namespace corvane
