#pragma once

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QSpinBox;

namespace corvane {

class App;

// The dock's "Recordings" group: whether recordings get chapters and a game log, at which
// changes, how chapters are named, and which device they follow (taken when a recording
// starts). Each control writes its setting at once.
class RecordingsGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit RecordingsGroup(App *app, QWidget *parent = nullptr);

private:
    QLayout *buildSpacingRow();
    QLayout *buildDeviceRow();
    // The main device, each followed one, and the chosen one when no longer followed.
    void fillDevices();
    QLabel *buildNotice();

    App *m_app;
    QCheckBox *m_chapters = nullptr;
    QComboBox *m_changes = nullptr;
    QLineEdit *m_template = nullptr;
    QSpinBox *m_spacing = nullptr;
    QComboBox *m_device = nullptr;
    QLabel *m_notice = nullptr;
};

} // namespace corvane
