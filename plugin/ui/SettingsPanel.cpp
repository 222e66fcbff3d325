#include "ui/SettingsPanel.h"

#include "device/DeviceSession.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QJsonArray>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

namespace corvane {

namespace {

enum class Kind { Check, Spin, Hex, Text };

// One device key bound to one widget. Groups: "connections", "rm024", "xbee", "outputs".
struct Row {
    const char *group;
    const char *label;
    const char *key;
    Kind kind;
    int min;
    int max;
    int fallback; // the default when the device omits the key (a check box: 0 or 1)
    const char *placeholder;
};

constexpr Row Rows[] = {
    {"connections", QT_TRANSLATE_NOOP("SettingsPanel", "Allow scoreboard changes over the network (controller config API)"),
     "http_endpoint_enabled", Kind::Check, 0, 1, 1, nullptr},
    {"connections", QT_TRANSLATE_NOOP("SettingsPanel", "Send live scores over the network (secure TCP, port 1010)"), "tcp_feed_enabled",
     Kind::Check, 0, 1, 1, nullptr},
    {"connections", QT_TRANSLATE_NOOP("SettingsPanel", "Send test data to the cloud"), "test_cloud_data_enabled", Kind::Check, 0, 1, 0,
     nullptr},
    {"rm024", QT_TRANSLATE_NOOP("SettingsPanel", "Find the channel automatically"), "wireless_auto_scan", Kind::Check, 0, 1, 1, nullptr},
    {"rm024", QT_TRANSLATE_NOOP("SettingsPanel", "Group"), "wireless_group", Kind::Spin, 0, 255, 0, nullptr},
    {"rm024", QT_TRANSLATE_NOOP("SettingsPanel", "Channel (0-79)"), "wireless_channel", Kind::Spin, 0, 79, 0, nullptr},
    {"xbee", QT_TRANSLATE_NOOP("SettingsPanel", "Channel"), "xbee_channel", Kind::Hex, 0, 0xFF, 255,
     QT_TRANSLATE_NOOP("SettingsPanel", "hex 0B-1A, blank = unchanged")},
    {"xbee", QT_TRANSLATE_NOOP("SettingsPanel", "PAN ID"), "xbee_pan_id", Kind::Hex, 0, 0xFFFF, 65535,
     QT_TRANSLATE_NOOP("SettingsPanel", "hex 16-bit, blank = unchanged")},
    {"outputs", QT_TRANSLATE_NOOP("SettingsPanel", "Wireless output (send scores to a receiver)"), "wireless_output_enabled", Kind::Check,
     0, 1, 0, nullptr},
    {"outputs", QT_TRANSLATE_NOOP("SettingsPanel", "Network ID (1-20)"), "wireless_output_network_id", Kind::Spin, 1, 20, 1, nullptr},
    {"outputs", QT_TRANSLATE_NOOP("SettingsPanel", "Channel (1-10)"), "wireless_output_channel", Kind::Spin, 1, 10, 1, nullptr},
    {"outputs", QT_TRANSLATE_NOOP("SettingsPanel", "Ethernet bridge output (send scores to a wired receiver)"),
     "ethernet_bridge_output_enabled", Kind::Check, 0, 1, 0, nullptr},
    {"outputs", QT_TRANSLATE_NOOP("SettingsPanel", "Receiver"), "ethernet_bridge_peer_host", Kind::Text, 0, 0, 0,
     QT_TRANSLATE_NOOP("SettingsPanel", "receiver address, e.g. corvane0042.local")},
    {"outputs", QT_TRANSLATE_NOOP("SettingsPanel", "TCP port"), "ethernet_bridge_port", Kind::Spin, 1, 65535, 1011, nullptr},
    {"outputs", QT_TRANSLATE_NOOP("SettingsPanel", "Cloud over USB (use this computer's internet)"), "usb_tunnel_enabled", Kind::Check, 0,
     1, 0, nullptr},
    {"outputs", QT_TRANSLATE_NOOP("SettingsPanel", "Local port"), "usb_tunnel_port", Kind::Spin, 1, 65535, 18883, nullptr},
};

constexpr const char *ControllerLabels[] = {
    QT_TRANSLATE_NOOP("SettingsPanel", "Maker"),
    QT_TRANSLATE_NOOP("SettingsPanel", "Model"),
    QT_TRANSLATE_NOOP("SettingsPanel", "Sport"),
    QT_TRANSLATE_NOOP("SettingsPanel", "Connection"),
};
constexpr const char *ControllerKeys[] = {"manufacturer", "model", "sport", "input_type"};

} // namespace

SettingsPanel::SettingsPanel(DeviceSession *session, QWidget *parent)
    : PanelBase(session, parent)
    , m_save(new QPushButton(tr("Save settings"), this))
{
    auto *content = new QWidget;
    auto *contentLayout = new QVBoxLayout(content);

    auto *connections = new QGroupBox(tr("Connections"), content);
    buildFields(new QFormLayout(connections), QStringLiteral("connections"));
    contentLayout->addWidget(connections);

    auto *scoreboard = new QGroupBox(tr("Scoreboard"), content);
    auto *scoreboardForm = new QFormLayout(scoreboard);
    for (int level = 0; level < ControllerCascade::LevelCount; ++level) {
        auto *box = new QComboBox(scoreboard);
        box->setAccessibleName(tr(ControllerLabels[level]));
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        scoreboardForm->addRow(tr(ControllerLabels[level]), box);
        m_boxes[level] = box;
        connect(box, &QComboBox::activated, this, [this, level] { onControllerPicked(static_cast<ControllerCascade::Level>(level)); });
    }
    contentLayout->addWidget(scoreboard);

    m_wireless = new QGroupBox(content);
    auto *wirelessLayout = new QVBoxLayout(m_wireless);
    m_rm024 = new QWidget(m_wireless);
    auto *rm024Form = new QFormLayout(m_rm024);
    rm024Form->setContentsMargins(0, 0, 0, 0);
    buildFields(rm024Form, QStringLiteral("rm024"));
    m_xbee = new QWidget(m_wireless);
    auto *xbeeForm = new QFormLayout(m_xbee);
    xbeeForm->setContentsMargins(0, 0, 0, 0);
    buildFields(xbeeForm, QStringLiteral("xbee"));
    wirelessLayout->addWidget(m_rm024);
    wirelessLayout->addWidget(m_xbee);
    contentLayout->addWidget(m_wireless);

    auto *outputs = new QFormLayout;
    buildFields(outputs, QStringLiteral("outputs"));
    contentLayout->addLayout(outputs);
    contentLayout->addStretch();

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    // The page's own background, not the darker one of a scroll area's viewport.
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    auto *saveRow = new QHBoxLayout;
    saveRow->addWidget(m_save);
    saveRow->addWidget(messageLabel(), 1);
    layout->addLayout(saveRow);

    connect(m_save, &QPushButton::clicked, this, &SettingsPanel::save);
    applySettings({});
    updateWirelessGroup();
}

void SettingsPanel::buildFields(QFormLayout *form, const QString &group)
{
    QWidget *owner = form->parentWidget();
    for (const Row &row : Rows) {
        if (group != QLatin1String(row.group))
            continue;
        const QString label = tr(row.label);
        QWidget *widget = nullptr;
        switch (row.kind) {
        case Kind::Check:
            widget = new QCheckBox(label, owner);
            form->addRow(widget);
            break;
        case Kind::Spin: {
            auto *spin = new QSpinBox(owner);
            spin->setRange(row.min, row.max);
            widget = spin;
            break;
        }
        case Kind::Hex: {
            auto *edit = new QLineEdit(owner);
            const int digits = row.max > 0xFF ? 4 : 2;
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("\\s*[0-9A-Fa-f]{0,%1}\\s*").arg(digits)), edit));
            widget = edit;
            break;
        }
        case Kind::Text:
            widget = new QLineEdit(owner);
            break;
        }
        if (row.placeholder)
            static_cast<QLineEdit *>(widget)->setPlaceholderText(tr(row.placeholder));
        if (row.kind != Kind::Check) {
            widget->setAccessibleName(label);
            form->addRow(label, widget);
        }
        m_widgets.insert(QLatin1String(row.key), widget);
    }
}

void SettingsPanel::applySettings(const QJsonObject &settings)
{
    for (const Row &row : Rows) {
        QWidget *widget = m_widgets.value(QLatin1String(row.key));
        const QJsonValue value = settings.value(QLatin1String(row.key));
        switch (row.kind) {
        case Kind::Check:
            static_cast<QCheckBox *>(widget)->setChecked(value.isBool() ? value.toBool() : row.fallback != 0);
            break;
        case Kind::Spin:
            static_cast<QSpinBox *>(widget)->setValue(value.isDouble() ? value.toInt() : row.fallback);
            break;
        case Kind::Hex:
            static_cast<QLineEdit *>(widget)->setText(hexText(value.isDouble() ? value.toInt() : row.fallback, row.fallback));
            break;
        case Kind::Text:
            static_cast<QLineEdit *>(widget)->setText(value.toString());
            break;
        }
    }
}

QString SettingsPanel::hexText(int value, int blankValue)
{
    return value == blankValue ? QString() : QString::number(value, 16).toUpper();
}

int SettingsPanel::hexValue(const QString &text, int blankValue)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    const int value = trimmed.toInt(&ok, 16);
    return trimmed.isEmpty() || !ok ? blankValue : value;
}

void SettingsPanel::refresh()
{
    if (!requireSession())
        return;
    showMessage(tr("Loading…"));
    m_loadFailed = false;
    m_controllerPicked = false;
    m_deviceChoice = {};
    auto failed = [this](const RpcResult &result) {
        m_loadFailed = true;
        showMessage(result.message, true);
    };
    call(QStringLiteral("getControllerList"), {}, [this, failed](const RpcResult &result) {
        if (!result.ok)
            return failed(result);
        QList<ControllerChoice> choices;
        for (const QJsonValue &value : result.result.value(QLatin1String("controllers")).toArray()) {
            const QJsonObject entry = value.toObject();
            ControllerChoice choice{entry.value(QLatin1String("manufacturer")).toString(), entry.value(QLatin1String("model")).toString(),
                                    entry.value(QLatin1String("sport")).toString(), entry.value(QLatin1String("input_type")).toString()};
            if (!choices.contains(choice))
                choices << choice;
        }
        m_cascade.setChoices(choices, m_deviceChoice);
        fillControllerBoxes();
        if (choices.isEmpty())
            showMessage(tr("The device did not list its controllers; scoreboard choices are unavailable."));
    });
    call(QStringLiteral("getControllerConfig"), {}, [this, failed](const RpcResult &result) {
        if (!result.ok)
            return failed(result);
        const auto text = [&result](const char *key) { return result.result.value(QLatin1String(key)).toString(); };
        m_deviceChoice = {text("manufacturer"), text("model"), text("sport"), text("input_type")};
        m_cascade.setChoices(m_cascade.choices(), m_deviceChoice);
        fillControllerBoxes();
    });
    call(QStringLiteral("getSettings"), {}, [this, failed](const RpcResult &result) {
        if (!result.ok)
            return failed(result);
        applySettings(result.result);
        if (!m_loadFailed && !m_cascade.choices().isEmpty())
            showMessage(QString());
    });
}

bool SettingsPanel::controllerKnown() const
{
    return m_controllerPicked || m_cascade.contains(m_deviceChoice);
}

void SettingsPanel::fillControllerBoxes()
{
    const bool known = controllerKnown();
    for (int level = 0; level < ControllerCascade::LevelCount; ++level) {
        QComboBox *box = m_boxes[level];
        const auto l = static_cast<ControllerCascade::Level>(level);
        const QSignalBlocker blocker(box);
        box->clear();
        for (const ControllerCascade::Item &item : m_cascade.items(l))
            box->addItem(item.id, item.id);
        box->setCurrentIndex(known ? box->findData(m_cascade.current(l)) : -1);
    }
    updateWirelessGroup();
}

void SettingsPanel::onControllerPicked(ControllerCascade::Level level)
{
    m_controllerPicked = true;
    m_cascade.pick(level, m_boxes[level]->currentData().toString());
    fillControllerBoxes();
}

bool SettingsPanel::xbeeMaker() const
{
    const QString maker = m_boxes[ControllerCascade::Maker]->currentData().toString().toLower();
    return maker == QLatin1String("oes") || maker == QLatin1String("varsity");
}

void SettingsPanel::updateWirelessGroup()
{
    const bool wireless = m_boxes[ControllerCascade::Input]->currentData().toString() == QLatin1String("wireless");
    m_wireless->setVisible(wireless);
    const bool xbee = xbeeMaker();
    m_wireless->setTitle(xbee ? tr("Wireless input (Xbee)") : tr("Wireless input (RM024)"));
    m_xbee->setVisible(xbee);
    m_rm024->setVisible(!xbee);
}

QJsonObject SettingsPanel::settingsToSave() const
{
    QJsonObject body{{QStringLiteral("mqtt_config_enabled"), true}};
    for (int level = 0; level < ControllerCascade::LevelCount; ++level)
        body.insert(QLatin1String(ControllerKeys[level]), m_boxes[level]->currentData().toString());
    const bool wireless = m_boxes[ControllerCascade::Input]->currentData().toString() == QLatin1String("wireless");
    const QString inputGroup = xbeeMaker() ? QStringLiteral("xbee") : QStringLiteral("rm024");
    for (const Row &row : Rows) {
        const QString group = QLatin1String(row.group);
        if ((group == QLatin1String("xbee") || group == QLatin1String("rm024")) && (!wireless || group != inputGroup))
            continue;
        QWidget *widget = m_widgets.value(QLatin1String(row.key));
        QJsonValue value;
        switch (row.kind) {
        case Kind::Check:
            value = static_cast<QCheckBox *>(widget)->isChecked();
            break;
        case Kind::Spin:
            value = static_cast<QSpinBox *>(widget)->value();
            break;
        case Kind::Hex:
            value = hexValue(static_cast<QLineEdit *>(widget)->text(), row.fallback);
            break;
        case Kind::Text:
            value = static_cast<QLineEdit *>(widget)->text();
            break;
        }
        body.insert(QLatin1String(row.key), value);
    }
    return body;
}

void SettingsPanel::save()
{
    for (QComboBox *box : m_boxes) {
        if (box->currentData().toString().isEmpty()) {
            showMessage(tr("Choose the scoreboard's maker, model, sport and connection first."), true);
            return;
        }
    }
    if (!requireSession())
        return;
    showMessage(tr("Saving…"));
    m_save->setEnabled(false);
    call(QStringLiteral("setSettings"), settingsToSave(), [this](const RpcResult &result) {
        m_save->setEnabled(true);
        if (result.ok)
            showMessage(tr("Saved. The device is switching to the new settings."));
        else
            showMessage(result.message, true);
    });
}

} // namespace corvane
