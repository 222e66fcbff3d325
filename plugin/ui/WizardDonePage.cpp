#include "ui/WizardDonePage.h"

#include "app/App.h"
#include "device/DeviceSession.h"
#include "device/lan/TlsFeed.h"
#include "ui/SetupLabels.h"
#include "ui/SetupText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

WizardDonePage::WizardDonePage(App *app, QWidget *parent)
    : QWidget(parent)
    , m_app(app)
{
    m_summary = setup::plainLabel();
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *live = new QPushButton(tr("Use this device's live scores in OBS"));
    auto *follow = new QPushButton(tr("Follow it beside the main device"));
    auto *choice = setup::textLabel(tr("The main device feeds the dock and every score text that follows it. A device "
                                       "followed beside it feeds the score texts and \"show when\" filters you bind to it "
                                       "in their properties."));
    m_followMessage = setup::textLabel();
    auto *more = new QPushButton(tr("More settings and tools\u2026"));
    m_claimCode = new QLineEdit;
    m_claimCode->setPlaceholderText(tr("Claim code from the device's box or account email"));
    m_add = new QPushButton(tr("Add this device to my account"));
    m_message = setup::textLabel();
    auto *close = new QPushButton(tr("Close"));
    auto *closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(setup::headingLabel(tr("All set")));
    layout->addWidget(m_summary);
    layout->addWidget(live);
    layout->addWidget(follow);
    layout->addWidget(choice);
    layout->addWidget(m_followMessage);
    layout->addWidget(more);
    layout->addWidget(m_claimCode);
    layout->addWidget(m_add);
    layout->addWidget(m_message);
    layout->addStretch();
    layout->addLayout(closeRow);
    connect(live, &QPushButton::clicked, this, &WizardDonePage::liveScoresWanted);
    connect(follow, &QPushButton::clicked, this, &WizardDonePage::followWanted);
    connect(more, &QPushButton::clicked, this, &WizardDonePage::moreWanted);
    connect(m_add, &QPushButton::clicked, this, &WizardDonePage::addToAccount);
    connect(close, &QPushButton::clicked, this, &WizardDonePage::closeWanted);
}

void WizardDonePage::showDevice(DeviceSession *session, const QString &kind, const QString &certificateSha256)
{
    m_session = session;
    m_kind = kind;
    m_summary->setText(doneSummaryText(session->deviceId(), session->firmwareVersion(), session->stationIp())
                       + certificateLine(TlsFeed::displayedFingerprint(certificateSha256)));
    m_claimCode->show();
    m_add->show();
    m_add->setEnabled(true);
    setup::showMessage(m_message, QString(), false);
    setup::showMessage(m_followMessage, QString(), false);
}

void WizardDonePage::showFollowOutcome(const QString &text, bool isError)
{
    setup::showMessage(m_followMessage, text, isError);
}

void WizardDonePage::addToAccount()
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    m_add->setEnabled(false);
    const QPointer<WizardDonePage> self(this);
    m_app->portal().linkDevice(session->deviceId(), m_claimCode->text().trimmed(), linkVia(m_kind), [self](const PortalResult &result) {
        WizardDonePage *page = self.data();
        if (!page)
            return;
        page->m_add->setEnabled(true);
        if (!result.ok) {
            setup::showMessage(page->m_message, result.message, true);
            return;
        }
        setup::showMessage(page->m_message, tr("Added to your account."), false);
        page->m_claimCode->hide();
        page->m_add->hide();
        page->m_app->refreshDevices();
    });
}

} // namespace corvane
