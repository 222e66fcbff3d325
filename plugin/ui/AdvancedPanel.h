#pragma once

#include "ui/PanelBase.h"

class QPlainTextEdit;
class QPushButton;

namespace corvane {

// The Advanced tab: restart, the device's log, and the two resets.
class AdvancedPanel : public PanelBase {
    Q_OBJECT
public:
    explicit AdvancedPanel(DeviceSession *session, QWidget *parent = nullptr);

    QPushButton *restartButton() const { return m_restart; }
    QPushButton *logButton() const { return m_showLog; }
    QPushButton *resetPasswordButton() const { return m_resetPassword; }
    QPushButton *factoryResetButton() const { return m_factoryReset; }
    QPlainTextEdit *logView() const { return m_log; }

private:
    void restart();
    void showLog();
    void resetPassword();
    void factoryReset();
    void runConfirmed(QPushButton *button, const QString &method, const QString &doneText);

    QPushButton *m_restart = nullptr;
    QPushButton *m_showLog = nullptr;
    QPushButton *m_resetPassword = nullptr;
    QPushButton *m_factoryReset = nullptr;
    QPlainTextEdit *m_log = nullptr;
};

} // namespace corvane
