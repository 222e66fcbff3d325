#include "ui/ManageDialog.h"

#include "cloud/PortalClient.h"
#include "device/settings/ControllerCatalog.h"
#include "ui/Prompter.h"

#include <QComboBox>
#include <QFormLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

ManageDialog::ManageDialog(PortalClient *portal, const QString &deviceId, QWidget *parent)
    : QDialog(parent)
    , m_portal(portal)
    , m_deviceId(deviceId)
{
    setWindowTitle(tr("Manage %1").arg(deviceId));
    resize(440, 520);

    auto *status = new QPushButton(tr("Check device status"));
    auto *update = new QPushButton(tr("Check for update"));
    auto *restart = new QPushButton(tr("Restart device"));
    auto *change = new QPushButton(tr("Change scoreboard"));
    m_actions = {status, update, restart, change};
    m_answer = new QPlainTextEdit;
    m_answer->setReadOnly(true);
    m_answer->setMinimumHeight(110);
    m_answer->setAccessibleName(tr("Answer"));
    m_status = new QLabel;
    m_status->setWordWrap(true);

    m_manufacturer = new QComboBox;
    m_model = new QComboBox;
    m_sport = new QComboBox;
    m_input = new QComboBox;
    auto *boxes = new QFormLayout;
    boxes->addRow(tr("Manufacturer"), m_manufacturer);
    boxes->addRow(tr("Model"), m_model);
    boxes->addRow(tr("Sport"), m_sport);
    boxes->addRow(tr("Input type"), m_input);
    for (const CatalogEntry &entry : controllerCatalog())
        m_manufacturer->addItem(entry.displayName, entry.key);
    fillForManufacturer();

    auto *heading = new QLabel(QStringLiteral("<b>%1</b>").arg(deviceId.toHtmlEscaped()));
    auto *note = new QLabel(tr("These actions reach the device through your Corvane account, so it must be online."));
    note->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(note);
    layout->addWidget(status);
    layout->addWidget(update);
    layout->addWidget(restart);
    layout->addWidget(m_answer);
    layout->addWidget(m_status);
    layout->addWidget(new QLabel(tr("<b>Scoreboard</b>")));
    layout->addLayout(boxes);
    layout->addWidget(change);

    connect(m_manufacturer, &QComboBox::currentIndexChanged, this, &ManageDialog::fillForManufacturer);
    connect(status, &QPushButton::clicked, this, &ManageDialog::checkStatus);
    connect(update, &QPushButton::clicked, this, &ManageDialog::checkUpdate);
    connect(restart, &QPushButton::clicked, this, &ManageDialog::restart);
    connect(change, &QPushButton::clicked, this, &ManageDialog::changeScoreboard);
}

void ManageDialog::fillForManufacturer()
{
    m_model->clear();
    m_sport->clear();
    m_input->clear();
    const CatalogEntry *entry = catalogEntry(m_manufacturer->currentData().toString());
    if (!entry)
        return;
    for (const QString &model : entry->models)
        m_model->addItem(model, model);
    for (const QString &sport : sportsOf(*entry))
        m_sport->addItem(sportLabel(sport), sport);
    for (const QString &input : entry->inputTypes)
        m_input->addItem(inputLabel(input), input);
}

void ManageDialog::setStatus(const QString &text, bool error)
{
    m_status->setStyleSheet(error ? QStringLiteral("color: #d9534f;") : QString());
    m_status->setText(text);
}

void ManageDialog::send(const QString &busyText, const std::function<void(PortalClient::Callback)> &request, Completion done)
{
    setStatus(busyText, false);
    for (QPushButton *button : std::as_const(m_actions))
        button->setEnabled(false);
    // Closing the dialog drops an answer still to come.
    const QPointer<ManageDialog> self(this);
    request([self, done](const PortalResult &result) {
        if (ManageDialog *dialog = self.data())
            dialog->finish(result, done);
    });
}

void ManageDialog::finish(const PortalResult &result, const Completion &done)
{
    for (QPushButton *button : std::as_const(m_actions))
        button->setEnabled(true);
    if (result.ok)
        done(result);
    else
        setStatus(result.message, true);
}

void ManageDialog::run(const QString &command, const QJsonObject &args, const QString &busyText, Completion done)
{
    send(busyText, [this, command, args](PortalClient::Callback answer) { m_portal->sendCommand(m_deviceId, command, args, answer); },
         std::move(done));
}

void ManageDialog::checkStatus()
{
    run(QStringLiteral("get_status"), {}, tr("Asking the device…"), [this](const PortalResult &result) {
        const QJsonObject answer = result.data.value(QStringLiteral("data")).toObject();
        QStringList lines;
        for (auto it = answer.constBegin(); it != answer.constEnd(); ++it) {
            const QJsonValue value = it.value();
            const QString text = value.isString() ? value.toString()
                                 : value.isObject() || value.isArray()
                                     ? QString::fromUtf8(QJsonDocument::fromVariant(value.toVariant()).toJson(QJsonDocument::Compact))
                                     : value.toVariant().toString();
            lines << QStringLiteral("%1: %2").arg(it.key(), text);
        }
        m_answer->setPlainText(lines.isEmpty() ? tr("The device answered.") : lines.join(QLatin1Char('\n')));
        setStatus(tr("Status received."), false);
    });
}

void ManageDialog::checkUpdate()
{
    run(QStringLiteral("ota_check"), {}, tr("Checking for a firmware update…"), [this](const PortalResult &result) {
        const QJsonObject answer = result.data.value(QStringLiteral("data")).toObject();
        m_answer->setPlainText(QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Indented)));
        setStatus(tr("Update check finished."), false);
    });
}

void ManageDialog::restart()
{
    if (!Prompter::confirm(this, tr("Restart device"),
                           tr("Restart %1 now? Live scores pause for about a minute.").arg(m_deviceId)))
        return;
    run(QStringLiteral("reboot"), {}, tr("Restarting…"), [this](const PortalResult &result) {
        setStatus(result.data.value(QStringLiteral("queued")).toBool()
                      ? tr("The device is offline; it will restart when it reconnects.")
                      : tr("Restart sent."),
                  false);
    });
}

void ManageDialog::changeScoreboard()
{
    const QJsonObject config{{QStringLiteral("manufacturer"), m_manufacturer->currentData().toString()},
                             {QStringLiteral("model"), m_model->currentData().toString()},
                             {QStringLiteral("sport"), m_sport->currentData().toString()},
                             {QStringLiteral("input_type"), m_input->currentData().toString()}};
    send(tr("Sending to the device…"),
         [this, config](PortalClient::Callback answer) { m_portal->sendConfig(m_deviceId, config, answer); },
         [this](const PortalResult &) { setStatus(tr("The device accepted the new scoreboard."), false); });
}

} // namespace corvane
