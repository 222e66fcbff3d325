#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace corvane {

class SettingsStore;
class SharePanel;
class UsbLink;

// The wizard's page for a wireless receiver on the USB cable: its pairing state, a new or
// typed pairing key, sharing this computer's internet, and the ways on from here.
class WizardReceiverPage : public QWidget {
    Q_OBJECT
public:
    explicit WizardReceiverPage(SettingsStore *settings, QWidget *parent = nullptr);

    // Follows `link`'s receiver status from now on.
    void attach(UsbLink *link);
    // Lets go of the link whose session ended.
    void forget();
    void refresh();

Q_SIGNALS:
    void liveScoresWanted();
    void throughReceiverWanted();

private:
    void sendKey(bool generate);

    QPointer<UsbLink> m_link;
    QLabel *m_status = nullptr;
    QLineEdit *m_key = nullptr;
    QLabel *m_message = nullptr;
    SharePanel *m_share = nullptr;
};

} // namespace corvane
