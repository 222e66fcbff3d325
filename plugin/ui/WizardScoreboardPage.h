#pragma once

#include <QPointer>
#include <QWidget>

namespace corvane {

class ControllerPanel;
class DeviceSession;

// The wizard's scoreboard step: the controller panel for the session at hand, or a skip.
class WizardScoreboardPage : public QWidget {
    Q_OBJECT
public:
    explicit WizardScoreboardPage(QWidget *parent = nullptr);

    // A fresh panel for `session`, in place of the one before.
    void attach(DeviceSession *session);
    ControllerPanel *panel() const { return m_panel.data(); }

Q_SIGNALS:
    void saved();
    void skipped();

private:
    QWidget *m_holder = nullptr;
    QPointer<ControllerPanel> m_panel;
};

} // namespace corvane
