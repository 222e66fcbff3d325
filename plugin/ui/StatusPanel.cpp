#include "ui/StatusPanel.h"

#include "device/DeviceSession.h"
#include "ui/StatusText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

StatusPanel::StatusPanel(DeviceSession *session, QWidget *parent)
    : PanelBase(session, parent)
    , m_status(new QLabel(this))
    , m_live(new QLabel(StatusText::noLiveDataText(), this))
    , m_testView(new QPlainTextEdit(this))
    , m_refresh(new QPushButton(tr("Refresh"), this))
    , m_test(new QPushButton(tr("Run network test"), this))
    , m_testTimer(new QTimer(this))
{
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setWordWrap(true);
    m_live->setTextFormat(Qt::PlainText);
    m_live->setWordWrap(true);
    m_testView->setReadOnly(true);
    m_testView->setAccessibleName(tr("Network test"));
    m_testView->setMinimumHeight(110);
    m_testTimer->setSingleShot(true);

    // The device's own lines on the left, what it reads from the scoreboard on the right.
    auto *device = new QVBoxLayout;
    device->addWidget(makeText(tr("<b>Device</b>"), this));
    device->addWidget(m_status);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_refresh);
    buttons->addStretch();
    device->addLayout(buttons);
    device->addStretch();
    auto *live = new QVBoxLayout;
    live->addWidget(makeText(tr("<b>Scoreboard right now</b>"), this));
    live->addWidget(m_live);
    live->addStretch();
    auto *top = new QHBoxLayout;
    top->addLayout(device, 3);
    top->addSpacing(12);
    top->addLayout(live, 2);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addWidget(makeText(tr("<b>Network test</b>"), this));
    layout->addWidget(makeText(tr("Checks the device's local network, internet and cloud connection. Takes about 15 seconds."), this));
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(m_test);
    testRow->addStretch();
    layout->addLayout(testRow);
    layout->addWidget(m_testView, 1);
    layout->addWidget(messageLabel());

    connect(m_refresh, &QPushButton::clicked, this, &StatusPanel::refresh);
    connect(m_test, &QPushButton::clicked, this, &StatusPanel::runNetworkTest);
    connect(m_testTimer, &QTimer::timeout, this, [this] { askNetworkTest(m_testRequests); });
    if (session)
        connect(session, &DeviceSession::envelope, this, &StatusPanel::onEnvelope);
}

void StatusPanel::refresh()
{
    call(QStringLiteral("getStatus"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            showMessage(result.message, true);
            return;
        }
        m_status->setText(StatusText::statusLines(result.result).join(QLatin1Char('\n')));
        showMessage(QString());
    });
}

void StatusPanel::runNetworkTest()
{
    if (!requireSession())
        return;
    m_test->setEnabled(false);
    m_testView->setPlainText(tr("Running…"));
    askNetworkTest(0);
}

void StatusPanel::askNetworkTest(int requestsMade)
{
    m_testRequests = requestsMade + 1;
    call(QStringLiteral("networkTest"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            m_testView->setPlainText(result.message);
            m_test->setEnabled(true);
            return;
        }
        m_testView->setPlainText(StatusText::networkTestText(result.result));
        const bool done = result.result.value(QLatin1String("done")).toBool();
        if (done || m_testRequests >= MaxNetworkTestRequests) {
            m_test->setEnabled(true);
            return;
        }
        m_testTimer->start(m_timing.networkTestRepeatMs);
    });
    if (!session())
        m_test->setEnabled(true); // the session went while the test was waiting
}

void StatusPanel::onEnvelope(const QJsonObject &envelope)
{
    const QStringList lines = StatusText::liveLines(envelope);
    if (!lines.isEmpty())
        m_live->setText(lines.join(QLatin1Char('\n')));
}

} // namespace corvane
