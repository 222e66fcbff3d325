#include "ui/AdvancedPanel.h"

#include "device/DeviceSession.h"
#include "ui/Prompter.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

AdvancedPanel::AdvancedPanel(DeviceSession *session, QWidget *parent)
    : PanelBase(session, parent)
    , m_restart(new QPushButton(tr("Restart device"), this))
    , m_showLog(new QPushButton(tr("Show device log"), this))
    , m_resetPassword(new QPushButton(tr("Reset admin password to the factory password…"), this))
    , m_factoryReset(new QPushButton(tr("Factory reset…"), this))
    , m_log(new QPlainTextEdit(this))
{
    m_log->setReadOnly(true);
    m_log->setAccessibleName(tr("Device log"));
    m_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    row->addWidget(m_restart);
    row->addWidget(m_showLog);
    row->addStretch();
    layout->addLayout(row);
    layout->addWidget(m_log, 1);
    layout->addWidget(makeText(tr("<b>Danger zone</b>"), this));
    auto *danger = new QHBoxLayout;
    danger->addWidget(m_resetPassword);
    danger->addWidget(m_factoryReset);
    danger->addStretch();
    layout->addLayout(danger);
    layout->addWidget(messageLabel());

    connect(m_restart, &QPushButton::clicked, this, &AdvancedPanel::restart);
    connect(m_showLog, &QPushButton::clicked, this, &AdvancedPanel::showLog);
    connect(m_resetPassword, &QPushButton::clicked, this, &AdvancedPanel::resetPassword);
    connect(m_factoryReset, &QPushButton::clicked, this, &AdvancedPanel::factoryReset);
}

void AdvancedPanel::restart()
{
    DeviceSession *device = requireSession();
    if (!device || !Prompter::confirm(this, tr("Restart device"), tr("Restart the device now? Live scores pause for about a minute.")))
        return;
    m_restart->setEnabled(false);
    // Through the session, so that the link loss that follows reads as a restart.
    device->reboot(guarded([this](bool ok, const QString &error) {
        m_restart->setEnabled(true);
        if (ok)
            showMessage(tr("Restarting…"));
        else
            showMessage(error, true);
    }));
}

void AdvancedPanel::showLog()
{
    if (!requireSession())
        return;
    m_showLog->setEnabled(false);
    m_log->setPlainText(tr("Reading the log…"));
    call(QStringLiteral("getLogs"), {}, [this](const RpcResult &result) {
        m_showLog->setEnabled(true);
        if (!result.ok) {
            m_log->clear();
            showMessage(result.message, true);
            return;
        }
        m_log->setPlainText(result.result.value(QLatin1String("logs")).toString());
    });
}

void AdvancedPanel::resetPassword()
{
    if (!requireSession())
        return;
    if (!Prompter::confirm(this, tr("Reset admin password"),
                           tr("Set the admin password back to the factory password? You will be asked to choose a new one next time."),
                           Prompter::Tone::Warning))
        return;
    runConfirmed(m_resetPassword, QStringLiteral("resetLocalPassword"), tr("Password reset."));
}

void AdvancedPanel::factoryReset()
{
    if (!requireSession())
        return;
    const std::optional<QString> typed = Prompter::askText(
        this, tr("Factory reset"),
        tr("This erases every setting on the device, including Wi-Fi and its cloud sign-in.\n\nType RESET to continue."));
    if (!typed || *typed != QLatin1String("RESET"))
        return;
    runConfirmed(m_factoryReset, QStringLiteral("factoryReset"), tr("The device is resetting."));
}

void AdvancedPanel::runConfirmed(QPushButton *button, const QString &method, const QString &doneText)
{
    button->setEnabled(false);
    call(method, {{QStringLiteral("confirm"), true}}, [this, button, doneText](const RpcResult &result) {
        button->setEnabled(true);
        if (result.ok)
            showMessage(doneText);
        else
            showMessage(result.message, true);
    });
}

} // namespace corvane
