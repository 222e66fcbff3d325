#include "ui/WifiPanel.h"

#include "device/DeviceSession.h"
#include "ui/Prompter.h"

#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

WifiPanel::WifiPanel(DeviceSession *session, QWidget *parent)
    : PanelBase(session, parent)
    , m_group(new QGroupBox(tr("Wi-Fi or Corvane wireless receiver"), this))
    , m_countdownTimer(new QTimer(this))
{
    auto *groupLayout = new QVBoxLayout(m_group);
    groupLayout->addWidget(makeText(tr("Pick the venue's network. The device uses it to reach your account and the internet."), m_group));

    auto *form = new QFormLayout;
    m_network = new QComboBox(m_group);
    m_network->setEditable(true);
    m_network->setInsertPolicy(QComboBox::NoInsert);
    m_network->setAccessibleName(tr("Network name"));
    m_network->setMinimumContentsLength(24);
    form->addRow(tr("Network name"), m_network);
    m_password = new QLineEdit(m_group);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setAccessibleName(tr("Wi-Fi password"));
    form->addRow(tr("Wi-Fi password"), m_password);
    groupLayout->addLayout(form);

    m_scan = new QPushButton(tr("Scan for networks"), m_group);
    m_connect = new QPushButton(tr("Connect to this network"), m_group);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_scan);
    buttons->addWidget(m_connect);
    buttons->addStretch();
    groupLayout->addLayout(buttons);

    m_notice = new QFrame(m_group);
    m_notice->setStyleSheet(QStringLiteral("QFrame { border: 3px solid #e8a317; border-radius: 8px; background: rgba(232, 163, 23, "
                                           "0.18); }QLabel { border: none; background: transparent; }"));
    m_noticeText = new QLabel(m_notice);
    m_noticeText->setWordWrap(true);
    m_noticeText->setTextFormat(Qt::PlainText);
    m_noticeButton = new QPushButton(m_notice);
    auto *noticeLayout = new QVBoxLayout(m_notice);
    noticeLayout->addWidget(m_noticeText);
    auto *noticeButtons = new QHBoxLayout;
    noticeButtons->addWidget(m_noticeButton);
    noticeButtons->addStretch();
    noticeLayout->addLayout(noticeButtons);
    m_notice->hide();
    groupLayout->addWidget(m_notice);

    m_receiverFields = new QWidget(m_group);
    auto *receiverForm = new QFormLayout(m_receiverFields);
    receiverForm->setContentsMargins(0, 0, 0, 0);
    m_receiverAddress = new QLineEdit(m_receiverFields);
    m_receiverAddress->setPlaceholderText(tr("aa:bb:cc:dd:ee:ff (printed on the receiver)"));
    m_receiverAddress->setAccessibleName(tr("Receiver address"));
    m_pairingKey = new QLineEdit(m_receiverFields);
    m_pairingKey->setPlaceholderText(tr("32-character pairing key, or leave empty to make a new one"));
    m_pairingKey->setAccessibleName(tr("Pairing key"));
    receiverForm->addRow(tr("Receiver address"), m_receiverAddress);
    receiverForm->addRow(tr("Pairing key"), m_pairingKey);
    m_receiverFields->hide();
    groupLayout->addWidget(m_receiverFields);

    m_countdown = new QLabel(this);
    m_countdown->setTextFormat(Qt::RichText);
    m_countdown->setAlignment(Qt::AlignCenter);
    m_countdown->setWordWrap(true);
    m_countdown->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_group);
    layout->addWidget(m_countdown);
    layout->addWidget(messageLabel());
    layout->addStretch();

    connect(m_scan, &QPushButton::clicked, this, &WifiPanel::scan);
    connect(m_connect, &QPushButton::clicked, this, &WifiPanel::join);
    connect(m_noticeButton, &QPushButton::clicked, this, &WifiPanel::onNoticeButton);
    connect(m_countdownTimer, &QTimer::timeout, this, &WifiPanel::tick);
}

void WifiPanel::refresh()
{
    // After a switch the device is restarting: the countdown says what to do.
    if (m_switched)
        return;
    DeviceSession *device = requireSession();
    if (!device)
        return;
    device->wirelessLink(guarded([this](const WirelessLink &link) {
        m_link = link;
        drawNotice();
    }));
}

void WifiPanel::scan()
{
    DeviceSession *device = requireSession();
    if (!device)
        return;
    m_scan->setEnabled(false);
    showMessage(tr("Scanning… this can take up to 15 seconds."));
    device->scanWifi(guarded([this](bool ok, const QList<WifiNetwork> &networks, const QString &note) {
        m_scan->setEnabled(true);
        if (!ok) {
            showMessage(note + tr(" You can still type the network name."), true);
            return;
        }
        // A picked network stays picked by its name (its label carries the old strength);
        // typed text is put back as typed.
        const QString picked = pickedNetwork();
        const QString typed = m_network->currentText();
        m_network->clear();
        for (const WifiNetwork &network : networks)
            m_network->addItem(tr("%1   (%2 dBm)").arg(network.ssid).arg(network.rssi), network.ssid);
        const int again = picked.isNull() ? -1 : m_network->findData(picked);
        m_network->setCurrentIndex(again);
        if (again < 0)
            m_network->setEditText(picked.isNull() ? typed : picked);
        if (!note.isEmpty())
            showMessage(note);
        else if (networks.isEmpty())
            showMessage(tr("No networks found. Move the device closer to the router, or type the network name."));
        else
            showMessage(tr("%1 network(s) found.").arg(networks.size()));
    }));
}

QString WifiPanel::pickedNetwork() const
{
    // A listed item's label in the field stands for that item's network.
    const int index = m_network->findText(m_network->currentText(), Qt::MatchExactly);
    return index >= 0 ? m_network->itemData(index).toString() : QString();
}

QString WifiPanel::chosenNetwork() const
{
    const QString picked = pickedNetwork();
    return picked.isNull() ? m_network->currentText().trimmed() : picked;
}

void WifiPanel::join()
{
    const QString ssid = chosenNetwork();
    if (ssid.isEmpty()) {
        showMessage(tr("Choose or type a network name first."), true);
        return;
    }
    DeviceSession *device = requireSession();
    if (!device)
        return;
    showMessage(tr("Sending the network to the device…"));
    m_connect->setEnabled(false);
    device->configureWifi(
        ssid, m_password->text(),
        guarded([this](const QString &text) { showMessage(text); }),
        guarded([this](bool ok, const QString &text) {
            m_connect->setEnabled(true);
            showMessage(text, !ok);
            const QString ip = ok && session() ? session()->stationIp() : QString();
            if (!ip.isEmpty())
                Q_EMIT joined(ip);
        }));
}

void WifiPanel::drawNotice()
{
    if (!m_link.present || m_switched) {
        m_notice->hide();
        m_receiverFields->hide();
        setWifiControlsEnabled(true);
        return;
    }
    const QString address = m_link.peerMac.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m_link.peerMac);
    QString text;
    QString button;
    if (m_link.transmitter) {
        text = tr("This device is sending its scores to a Corvane wireless receiver%1, so its Wi-Fi is switched off.").arg(address);
        if (!m_link.startError.isEmpty())
            text += tr("\n\nThe wireless transmitter could not start: %1").arg(m_link.startError);
        button = tr("Switch off the wireless transmitter and use Wi-Fi");
    } else if (m_link.keySet) {
        text = tr("This device connects over Wi-Fi. It is also paired with a Corvane wireless receiver%1, so it can send its scores "
                  "there instead.")
                   .arg(address);
        button = tr("Use the wireless receiver instead of Wi-Fi");
    } else {
        text = tr("This device connects over Wi-Fi. If the venue has no Wi-Fi it can send its scores to a Corvane wireless receiver "
                  "instead.");
        button = m_receiverRevealed ? tr("Switch to the wireless receiver and restart")
                                    : tr("Set up a Corvane wireless receiver instead of Wi-Fi…");
    }
    m_noticeText->setText(text);
    m_noticeButton->setText(button);
    m_noticeButton->setEnabled(true);
    m_notice->show();
    m_receiverFields->setVisible(m_receiverRevealed && !m_link.transmitter && !m_link.keySet);
    setWifiControlsEnabled(!m_link.transmitter);
}

void WifiPanel::setWifiControlsEnabled(bool enabled)
{
    for (QWidget *control : {static_cast<QWidget *>(m_network), static_cast<QWidget *>(m_password),
                             static_cast<QWidget *>(m_scan), static_cast<QWidget *>(m_connect)})
        control->setEnabled(enabled);
}

void WifiPanel::onNoticeButton()
{
    if (m_link.transmitter)
        switchOffTransmitter();
    else if (m_link.keySet || m_receiverRevealed)
        switchToReceiver();
    else {
        m_receiverRevealed = true;
        drawNotice();
    }
}

void WifiPanel::switchOffTransmitter()
{
    DeviceSession *device = requireSession();
    if (!device)
        return;
    if (!Prompter::confirm(this, tr("Switch off the wireless transmitter"),
                           tr("The device will stop sending its scores to the wireless receiver and restart so it can use Wi-Fi. "
                              "The receiver's pairing is kept, so you can switch back later.\n\nContinue?")))
        return;
    showMessage(tr("Switching off the wireless transmitter…"));
    m_noticeButton->setEnabled(false);
    device->disableEspNowSender(guarded([this](bool ok, const QString &error) {
        if (!ok) {
            showMessage(error, true);
            m_noticeButton->setEnabled(true);
            return;
        }
        startCountdown(tr("The device is restarting to use Wi-Fi."));
    }));
}

void WifiPanel::switchToReceiver()
{
    QString peerMac;
    QString key;
    bool generateKey = false;
    if (!m_link.keySet) {
        peerMac = m_receiverAddress->text().trimmed();
        if (peerMac.isEmpty()) {
            showMessage(tr("Enter the receiver's address first. It is printed on the receiver."), true);
            return;
        }
        key = m_pairingKey->text().trimmed();
        generateKey = key.isEmpty();
    }
    DeviceSession *device = requireSession();
    if (!device)
        return;
    if (!Prompter::confirm(this, tr("Use the wireless receiver"),
                           tr("The device will stop using Wi-Fi and send its scores to the Corvane wireless receiver, then restart. "
                              "Its scores reach the cloud through a computer connected to that receiver.\n\nMake sure the receiver "
                              "is set up first - you can switch back over USB or Bluetooth.\n\nContinue?")))
        return;
    showMessage(tr("Switching to the wireless receiver…"));
    m_noticeButton->setEnabled(false);
    device->enableWirelessTransmitter(peerMac, key, generateKey, guarded([this](bool ok, const QString &error, const QString &newKey) {
        if (!ok) {
            showMessage(error, true);
            m_noticeButton->setEnabled(true);
            return;
        }
        m_group->hide();
        startCountdown(tr("The device is restarting and will send its scores to the wireless receiver. Wi-Fi is off."));
        if (!newKey.isEmpty())
            showMessage(tr("New pairing key - enter it on the receiver (shown only once):\n%1").arg(newKey));
        else
            showMessage(QString());
    }));
}

QString WifiPanel::countdownText(const QString &headline, int secondsLeft)
{
    return tr("<div style='font-size:15pt; font-weight:bold'>%1</div><div style='font-size:26pt; font-weight:bold'>%2</div><div "
              "style='font-size:15pt; font-weight:bold'>Wait %3 seconds, then close this window and reopen it to reconnect to the "
              "device.</div>")
        .arg(headline.toHtmlEscaped())
        .arg(secondsLeft)
        .arg(secondsLeft);
}

QString WifiPanel::countdownDoneText(const QString &headline)
{
    return tr("<div style='font-size:15pt; font-weight:bold'>%1</div><div style='font-size:20pt; font-weight:bold'>The device should be "
              "back.</div><div style='font-size:15pt; font-weight:bold'>Close this window and reopen it to reconnect to the "
              "device.</div>")
        .arg(headline.toHtmlEscaped());
}

void WifiPanel::startCountdown(const QString &headline)
{
    m_switched = true;
    m_headline = headline;
    m_secondsLeft = CountdownSeconds;
    m_noticeButton->setEnabled(false);
    m_notice->hide();
    m_receiverFields->hide();
    m_countdown->setText(countdownText(m_headline, m_secondsLeft));
    m_countdown->show();
    m_countdownTimer->start(m_timing.countdownTickMs);
}

void WifiPanel::tick()
{
    --m_secondsLeft;
    if (m_secondsLeft > 0) {
        m_countdown->setText(countdownText(m_headline, m_secondsLeft));
        return;
    }
    m_countdownTimer->stop();
    m_countdown->setText(countdownDoneText(m_headline));
}

} // namespace corvane
