#pragma once

#include "device/settings/ControllerCascade.h"
#include "ui/PanelBase.h"

#include <QHash>
#include <QList>

class QComboBox;
class QFormLayout;
class QGroupBox;
class QPushButton;

namespace corvane {

// The Settings tab: the device's connection, scoreboard input, wireless input, output and
// USB cloud settings, each bound to one widget, saved together in one "setSettings".
class SettingsPanel : public PanelBase {
    Q_OBJECT
public:
    explicit SettingsPanel(DeviceSession *session, QWidget *parent = nullptr);

    void refresh() override;

    // The widget bound to a device key (a check box, spin box or line edit), or nullptr.
    QWidget *widgetFor(const QString &key) const { return m_widgets.value(key); }
    QComboBox *controllerBox(ControllerCascade::Level level) const { return m_boxes[level]; }
    QGroupBox *wirelessGroup() const { return m_wireless; }
    QPushButton *saveButton() const { return m_save; }

    // The "setSettings" body for what the widgets show now.
    QJsonObject settingsToSave() const;
    // A hexadecimal field's value: blank is `blankValue`.
    static int hexValue(const QString &text, int blankValue);
    static QString hexText(int value, int blankValue);

private:
    void buildFields(QFormLayout *form, const QString &group);
    void applySettings(const QJsonObject &settings);
    void fillControllerBoxes();
    // Whether the boxes may show a scoreboard: the device's own, read and in its list, or
    // one the operator picked. Otherwise they stay empty, so Save cannot write a guess.
    bool controllerKnown() const;
    void onControllerPicked(ControllerCascade::Level level);
    void updateWirelessGroup();
    bool xbeeMaker() const;
    void save();

    QHash<QString, QWidget *> m_widgets;
    QComboBox *m_boxes[ControllerCascade::LevelCount] = {};
    QGroupBox *m_wireless = nullptr;
    QWidget *m_rm024 = nullptr;
    QWidget *m_xbee = nullptr;
    QPushButton *m_save = nullptr;
    ControllerCascade m_cascade;
    ControllerChoice m_deviceChoice;
    bool m_loadFailed = false;     // a request of the last refresh failed; its message stays
    bool m_controllerPicked = false; // the operator chose in the scoreboard boxes
};

} // namespace corvane
