#pragma once

#include "device/settings/ControllerCascade.h"
#include "ui/PanelBase.h"

class QComboBox;
class QPushButton;

namespace corvane {

// The scoreboard the device reads, chosen in four linked boxes (manufacturer, model, sport,
// input type) from the list the device itself reports. The wizard's scoreboard step.
class ControllerPanel : public PanelBase {
    Q_OBJECT
public:
    explicit ControllerPanel(DeviceSession *session, QWidget *parent = nullptr);

    // Asks the device for its list and its current choice.
    void load();
    void refresh() override { load(); }

    QComboBox *box(ControllerCascade::Level level) const { return m_boxes[level]; }
    QPushButton *saveButton() const { return m_save; }

Q_SIGNALS:
    void saved();

private:
    void fillBoxes();
    void onPicked(ControllerCascade::Level level);
    void save();

    QComboBox *m_boxes[ControllerCascade::LevelCount] = {};
    QPushButton *m_save = nullptr;
    ControllerCascade m_cascade;
};

} // namespace corvane
