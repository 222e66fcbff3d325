#pragma once

#include <QPointer>
#include <QWidget>

namespace corvane {

class DeviceSession;
class WifiPanel;

// The wizard's Wi-Fi step: the Wi-Fi panel for the session at hand, or a skip.
class WizardWifiPage : public QWidget {
    Q_OBJECT
public:
    explicit WizardWifiPage(QWidget *parent = nullptr);

    // A fresh panel for `session`, in place of the one before.
    void attach(DeviceSession *session);
    void refresh();

Q_SIGNALS:
    void joined();
    void skipped();

private:
    QWidget *m_holder = nullptr;
    QPointer<WifiPanel> m_panel;
};

} // namespace corvane
