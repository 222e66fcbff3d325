#include "ui/SecurityPanel.h"

#include "device/DeviceSession.h"
#include "ui/Prompter.h"

#include <QApplication>
#include <QClipboard>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

namespace {

QLineEdit *readOnlyField(const QString &name, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setReadOnly(true);
    field->setAccessibleName(name);
    return field;
}

QLineEdit *passwordField(const QString &name, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setEchoMode(QLineEdit::Password);
    field->setAccessibleName(name);
    return field;
}

} // namespace

SecurityPanel::SecurityPanel(DeviceSession *session, QWidget *parent)
    : PanelBase(session, parent)
{
    auto *network = new QGroupBox(tr("Network access"), this);
    auto *networkForm = new QFormLayout(network);
    networkForm->addRow(makeText(tr("Other programs can read this device's live scores over the network with an access token."), network));
    m_fingerprint = readOnlyField(tr("Security fingerprint (SHA-256)"), network);
    networkForm->addRow(tr("Security fingerprint (SHA-256)"), m_fingerprint);
    m_token = readOnlyField(tr("Access token"), network);
    networkForm->addRow(tr("Access token"), m_token);
    m_tokenNote = makeText(QString(), network);
    m_tokenNote->hide();
    networkForm->addRow(m_tokenNote);
    m_newToken = new QPushButton(tr("Make a new access token"), network);
    m_copyToken = new QPushButton(tr("Copy token"), network);
    auto *tokenButtons = new QHBoxLayout;
    tokenButtons->addWidget(m_newToken);
    tokenButtons->addWidget(m_copyToken);
    tokenButtons->addStretch();
    networkForm->addRow(tokenButtons);

    auto *bluetooth = new QGroupBox(tr("Bluetooth pairing"), this);
    auto *bluetoothForm = new QFormLayout(bluetooth);
    m_passkey = readOnlyField(tr("6-digit passkey"), bluetooth);
    bluetoothForm->addRow(tr("6-digit passkey"), m_passkey);
    m_showPasskey = new QPushButton(tr("Show pairing passkey"), bluetooth);
    auto *passkeyRow = new QHBoxLayout;
    passkeyRow->addWidget(m_showPasskey);
    passkeyRow->addStretch();
    bluetoothForm->addRow(passkeyRow);
    bluetoothForm->addRow(makeText(tr("The passkey this computer or phone enters the first time it pairs over Bluetooth. It is only "
                                      "shown over a cable or the network."),
                                   bluetooth));

    auto *password = new QGroupBox(tr("Admin password"), this);
    auto *passwordForm = new QFormLayout(password);
    m_current = passwordField(tr("Current password"), password);
    m_new = passwordField(tr("New password (at least 8 characters)"), password);
    m_repeat = passwordField(tr("New password again"), password);
    passwordForm->addRow(tr("Current password"), m_current);
    passwordForm->addRow(tr("New password (at least 8 characters)"), m_new);
    passwordForm->addRow(tr("New password again"), m_repeat);
    m_changePassword = new QPushButton(tr("Change password"), password);
    auto *passwordRow = new QHBoxLayout;
    passwordRow->addWidget(m_changePassword);
    passwordRow->addStretch();
    passwordForm->addRow(passwordRow);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(network);
    layout->addWidget(bluetooth);
    layout->addWidget(password);
    layout->addWidget(messageLabel());
    layout->addStretch();

    connect(m_newToken, &QPushButton::clicked, this, &SecurityPanel::makeNewToken);
    connect(m_copyToken, &QPushButton::clicked, this, [this] {
        if (!m_token->text().isEmpty())
            QApplication::clipboard()->setText(m_token->text());
    });
    connect(m_showPasskey, &QPushButton::clicked, this, &SecurityPanel::showPasskey);
    connect(m_changePassword, &QPushButton::clicked, this, &SecurityPanel::changePassword);
}

void SecurityPanel::refresh()
{
    call(QStringLiteral("getStatus"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            showMessage(result.message, true);
            return;
        }
        m_fingerprint->setText(result.result.value(QLatin1String("tls_fingerprint")).toString());
        if (result.result.value(QLatin1String("api_token_configured")).toBool()) {
            m_token->clear();
            m_tokenNote->hide();
            m_token->setPlaceholderText(tr("Set – make a new token to see one"));
        }
    });
}

void SecurityPanel::makeNewToken()
{
    if (!requireSession())
        return;
    if (!Prompter::confirm(this, tr("New access token"),
                           tr("Make a new access token? Anything using the old one will stop working until you update it.")))
        return;
    m_newToken->setEnabled(false);
    call(QStringLiteral("ensureApiToken"), {{QStringLiteral("force_new"), true}}, [this](const RpcResult &result) {
        m_newToken->setEnabled(true);
        if (!result.ok) {
            showMessage(result.message, true);
            return;
        }
        const QString token = result.result.value(QLatin1String("token")).toString();
        if (token.isEmpty()) {
            showMessage(tr("The device did not return a token."), true);
            return;
        }
        m_token->setText(token);
        m_tokenNote->setText(tr("Copy the token now – it is not shown again."));
        m_tokenNote->show();
        Q_EMIT apiToken(token);
    });
}

void SecurityPanel::showPasskey()
{
    if (!requireSession())
        return;
    m_showPasskey->setEnabled(false);
    call(QStringLiteral("blePasskey"), {}, [this](const RpcResult &result) {
        m_showPasskey->setEnabled(true);
        if (!result.ok) {
            showMessage(result.message, true);
            return;
        }
        const QString passkey = result.result.value(QLatin1String("passkey")).toString();
        if (passkey.isEmpty()) {
            showMessage(tr("The device did not return a passkey."), true);
            return;
        }
        m_passkey->setText(passkey);
    });
}

QString SecurityPanel::passwordProblem(const QString &current, const QString &next, const QString &repeat)
{
    if (current.isEmpty() || next.isEmpty())
        return tr("Fill in the current and new password.");
    if (next != repeat)
        return tr("The two new passwords do not match.");
    if (next.size() < 8 || next.toLower() == DeviceSession::factoryPassword())
        return tr("Use at least 8 characters, and not the factory password.");
    return QString();
}

void SecurityPanel::changePassword()
{
    const QString current = m_current->text();
    const QString next = m_new->text();
    const QString problem = passwordProblem(current, next, m_repeat->text());
    if (!problem.isEmpty()) {
        showMessage(problem, true);
        return;
    }
    if (!requireSession())
        return;
    m_changePassword->setEnabled(false);
    const QJsonObject params{{QStringLiteral("current_password"), current},
                             {QStringLiteral("new_password"), next},
                             {QStringLiteral("confirm_password"), next}};
    call(QStringLiteral("changePassword"), params, [this, next](const RpcResult &result) {
        m_changePassword->setEnabled(true);
        if (!result.ok) {
            showMessage(result.message, true);
            return;
        }
        m_current->clear();
        m_new->clear();
        m_repeat->clear();
        showMessage(tr("Password changed."));
        Q_EMIT passwordChanged(next);
    });
}

} // namespace corvane
