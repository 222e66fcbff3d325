#include "ui/WizardReceiverPage.h"

#include "device/usb/UsbLink.h"
#include "ui/SetupLabels.h"
#include "ui/SetupText.h"
#include "ui/SharePanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

WizardReceiverPage::WizardReceiverPage(SettingsStore *settings, QWidget *parent)
    : QWidget(parent)
{
    m_status = setup::plainLabel();
    auto *newKey = new QPushButton(tr("Make a new pairing key"));
    m_key = new QLineEdit;
    m_key->setPlaceholderText(tr("\u2026or enter an existing 32-character key"));
    auto *useKey = new QPushButton(tr("Use this key"));
    m_message = setup::plainLabel();
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The device behind the receiver reaches the cloud through this computer, if allowed.
    m_share = new SharePanel(this, settings);
    auto *live = new QPushButton(tr("Use this receiver's live scores in OBS"));
    auto *through = new QPushButton(tr("Set up or manage the paired Corvane device through this receiver\u2026"));
    auto *keyRow = new QHBoxLayout;
    keyRow->addWidget(m_key, 1);
    keyRow->addWidget(useKey);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(setup::headingLabel(tr("Wireless receiver")));
    layout->addWidget(m_status);
    layout->addWidget(newKey);
    layout->addLayout(keyRow);
    layout->addWidget(m_message);
    layout->addWidget(m_share);
    layout->addWidget(live);
    layout->addWidget(through);
    layout->addStretch();
    connect(newKey, &QPushButton::clicked, this, [this] { sendKey(true); });
    connect(useKey, &QPushButton::clicked, this, [this] { sendKey(false); });
    connect(live, &QPushButton::clicked, this, &WizardReceiverPage::liveScoresWanted);
    connect(through, &QPushButton::clicked, this, &WizardReceiverPage::throughReceiverWanted);
}

void WizardReceiverPage::attach(UsbLink *link)
{
    forget();
    m_link = link;
    refresh();
    m_share->attach(link, true);
    if (link)
        connect(link, &UsbLink::receiverUpdated, this, &WizardReceiverPage::refresh);
}

void WizardReceiverPage::forget()
{
    if (UsbLink *link = m_link.data())
        disconnect(link, nullptr, this, nullptr);
    m_link.clear();
}

void WizardReceiverPage::refresh()
{
    UsbLink *link = m_link.data();
    m_status->setText(link ? receiverStatusText(link->receiverStatus()) : QString());
}

void WizardReceiverPage::sendKey(bool generate)
{
    UsbLink *link = m_link.data();
    if (!link)
        return;
    setup::showMessage(m_message, tr("Sending to the receiver\u2026"), false);
    const QPointer<WizardReceiverPage> self(this);
    link->setReceiver(generate ? QString() : m_key->text(), generate, 0, [self](bool ok, const QString &key, const QString &error) {
        WizardReceiverPage *page = self.data();
        if (!page)
            return;
        if (!ok)
            setup::showMessage(page->m_message, error, true);
        else if (!key.isEmpty())
            setup::showMessage(page->m_message,
                               tr("New pairing key (write this down and enter it on the sending device):\n%1").arg(key), false);
        else
            setup::showMessage(page->m_message, tr("Saved. The receiver restarts to apply it."), false);
    });
}

} // namespace corvane
