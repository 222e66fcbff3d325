#include "ui/ControllerPanel.h"

#include "device/DeviceSession.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

namespace {

constexpr const char *BoxLabels[] = {
    QT_TRANSLATE_NOOP("ControllerPanel", "Manufacturer"),
    QT_TRANSLATE_NOOP("ControllerPanel", "Model"),
    QT_TRANSLATE_NOOP("ControllerPanel", "Sport"),
    QT_TRANSLATE_NOOP("ControllerPanel", "Input type"),
};

} // namespace

ControllerPanel::ControllerPanel(DeviceSession *session, QWidget *parent)
    : PanelBase(session, parent)
    , m_save(new QPushButton(tr("Save scoreboard"), this))
{
    auto *form = new QFormLayout;
    for (int level = 0; level < ControllerCascade::LevelCount; ++level) {
        auto *box = new QComboBox(this);
        box->setAccessibleName(tr(BoxLabels[level]));
        box->setMinimumContentsLength(20);
        form->addRow(tr(BoxLabels[level]), box);
        m_boxes[level] = box;
        connect(box, &QComboBox::activated, this, [this, level] { onPicked(static_cast<ControllerCascade::Level>(level)); });
    }
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    auto *row = new QHBoxLayout;
    row->addWidget(m_save);
    row->addStretch();
    layout->addLayout(row);
    layout->addWidget(messageLabel());
    layout->addStretch();
    m_save->setEnabled(false);
    connect(m_save, &QPushButton::clicked, this, &ControllerPanel::save);
}

void ControllerPanel::load()
{
    DeviceSession *device = session();
    if (!device)
        return;
    showMessage(tr("Loading the list…"));
    for (QComboBox *box : m_boxes)
        box->clear();
    m_save->setEnabled(false);
    device->listControllers(guarded([this](bool ok, const QList<ControllerChoice> &controllers, const QString &error) {
        if (!ok) {
            showMessage(error, true);
            return;
        }
        m_cascade.setChoices(controllers);
        fillBoxes();
        m_save->setEnabled(!controllers.isEmpty());
        showMessage(controllers.isEmpty() ? tr("The device did not list its scoreboards.") : QString());
        DeviceSession *current = session();
        if (!current)
            return;
        current->getControllerConfig(guarded([this](bool configOk, const QJsonObject &config, const QString &) {
            if (!configOk)
                return;
            const auto text = [&config](const char *key) { return config.value(QLatin1String(key)).toString(); };
            const ControllerChoice chosen{text("manufacturer"), text("model"), text("sport"), text("input_type")};
            if (!m_cascade.contains(chosen))
                return;
            m_cascade.setChoices(m_cascade.choices(), chosen);
            fillBoxes();
            showMessage(tr("Currently set to this scoreboard."));
        }));
    }));
}

void ControllerPanel::fillBoxes()
{
    for (int level = 0; level < ControllerCascade::LevelCount; ++level) {
        const auto l = static_cast<ControllerCascade::Level>(level);
        QComboBox *box = m_boxes[level];
        const QSignalBlocker blocker(box);
        box->clear();
        for (const ControllerCascade::Item &item : m_cascade.items(l))
            box->addItem(item.label, item.id);
        box->setCurrentIndex(box->findData(m_cascade.current(l)));
    }
}

void ControllerPanel::onPicked(ControllerCascade::Level level)
{
    m_cascade.pick(level, m_boxes[level]->currentData().toString());
    fillBoxes();
}

void ControllerPanel::save()
{
    const ControllerChoice choice{m_boxes[ControllerCascade::Maker]->currentData().toString(),
                                  m_boxes[ControllerCascade::Model]->currentData().toString(),
                                  m_boxes[ControllerCascade::Sport]->currentData().toString(),
                                  m_boxes[ControllerCascade::Input]->currentData().toString()};
    DeviceSession *device = session();
    if (!device || choice.manufacturer.isEmpty() || choice.model.isEmpty() || choice.sport.isEmpty() || choice.inputType.isEmpty()) {
        showMessage(tr("Choose the manufacturer, model, sport and input type first."), true);
        return;
    }
    showMessage(tr("Saving…"));
    m_save->setEnabled(false);
    device->setController(choice, guarded([this](bool ok, const QString &error) {
        m_save->setEnabled(true);
        if (!ok) {
            showMessage(error, true);
            return;
        }
        showMessage(tr("Saved."));
        Q_EMIT saved();
    }));
}

} // namespace corvane
