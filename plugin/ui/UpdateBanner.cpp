#include "ui/UpdateBanner.h"

#include "app/App.h"
#include "base/Version.h"
#include "ui/DockLabels.h"
#include "ui/ObsFrontend.h"
#include "update/PluginUpdater.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace corvane {

namespace {

const char kBannerStyle[] =
    "QFrame#corvaneUpdateBanner { border: 2px solid #3d8bdb; border-radius: 8px; background: rgba(61, 139, 219, 0.14); }";
const char kRestartBannerStyle[] =
    "QFrame#corvaneUpdateBanner { border: 3px solid #e8a317; border-radius: 8px; background: rgba(232, 163, 23, 0.18); }";

bool isBusy(PluginUpdater::State state)
{
    return state == PluginUpdater::Checking || state == PluginUpdater::Downloading || state == PluginUpdater::Installing;
}

} // namespace

UpdateBanner::UpdateBanner(App *app, QWidget *parent)
    : QFrame(parent)
    , m_app(app)
{
    setObjectName(QStringLiteral("corvaneUpdateBanner"));
    m_title = dock::wrappedLabel();
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_detail = dock::hintLabel();
    m_progress = new QProgressBar;
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(8);
    m_updateNow = new QPushButton(tr("Update now"));
    m_downloadPage = new QPushButton(tr("Open the download page"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_updateNow);
    buttons->addWidget(m_downloadPage);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_title);
    layout->addWidget(m_detail);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    hide();
    connect(m_updateNow, &QPushButton::clicked, this, [this] { m_app->updater().install(); });
    connect(m_downloadPage, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl(m_app->updater().config().downloadPage)); });
    connect(&m_app->updater(), &PluginUpdater::stateChanged, this, &UpdateBanner::showUpdate);
}

void UpdateBanner::showUpdate()
{
    const PluginUpdater &updater = m_app->updater();
    const PluginUpdater::State state = updater.state();
    const bool busy = isBusy(state);
    const bool shown = state == PluginUpdater::Available || state == PluginUpdater::Downloading || state == PluginUpdater::Installing
                       || state == PluginUpdater::Installed || (state == PluginUpdater::Failed && updater.hasPackage());
    setVisible(shown);
    if (!shown)
        return;
    setStyleSheet(QString::fromLatin1(state == PluginUpdater::Installed ? kRestartBannerStyle : kBannerStyle));
    QString title;
    if (state == PluginUpdater::Installed) {
        title = tr("Restart OBS to finish updating to version %1.").arg(updater.version());
        if (ObsFrontend::isStreamingOrRecording())
            title += tr(" OBS is streaming or recording right now, so wait until you are done.");
    } else if (state == PluginUpdater::Failed) {
        title = tr("The update to version %1 did not finish.").arg(updater.version());
    } else if (busy) {
        title = updater.message();
    } else {
        title = tr("Corvane %1 is available (you have %2).").arg(updater.version(), QStringLiteral(CORVANE_PLUGIN_VERSION));
    }
    m_title->setText(title);
    m_detail->setText(updater.notes());
    m_detail->setVisible(state == PluginUpdater::Available && !updater.notes().isEmpty());
    m_progress->setVisible(state == PluginUpdater::Downloading || state == PluginUpdater::Installing);
    m_progress->setRange(0, state == PluginUpdater::Installing ? 0 : 100);
    m_progress->setValue(updater.progress());
    const bool idle = state != PluginUpdater::Installed && !busy;
    m_updateNow->setVisible(idle && updater.canSelfUpdate());
    m_updateNow->setText(state == PluginUpdater::Failed ? tr("Try again") : tr("Update now"));
    m_downloadPage->setVisible(idle && !updater.canSelfUpdate());
}

} // namespace corvane
