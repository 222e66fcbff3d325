#include "ui/PluginGroup.h"

#include "app/App.h"
#include "base/Version.h"
#include "ui/DockLabels.h"
#include "update/PluginUpdater.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

PluginGroup::PluginGroup(App *app, QWidget *parent)
    : QGroupBox(tr("Corvane plugin"), parent)
    , m_app(app)
{
    m_check = new QPushButton(tr("Check for updates"));
    m_status = dock::hintLabel();
    m_autoCheck = new QCheckBox(tr("Check for updates automatically"));
    m_autoCheck->setChecked(m_app->settings().autoCheckUpdates());
    auto *versionRow = new QHBoxLayout;
    versionRow->addWidget(new QLabel(tr("Version %1").arg(QStringLiteral(CORVANE_PLUGIN_VERSION))), 1);
    versionRow->addWidget(m_check);
    auto *layout = new QVBoxLayout;
    layout->addLayout(versionRow);
    layout->addWidget(m_status);
    layout->addWidget(m_autoCheck);
    connect(m_check, &QPushButton::clicked, this, [this] { m_app->updater().check(true); });
    connect(m_autoCheck, &QCheckBox::toggled, this, [this](bool on) { m_app->settings().setAutoCheckUpdates(on); });
    setLayout(layout);

    connect(&m_app->updater(), &PluginUpdater::stateChanged, this, &PluginGroup::showUpdate);
}

void PluginGroup::showUpdate()
{
    const PluginUpdater &updater = m_app->updater();
    const PluginUpdater::State state = updater.state();
    const bool busy = state == PluginUpdater::Checking || state == PluginUpdater::Downloading || state == PluginUpdater::Installing;
    m_check->setEnabled(!busy && state != PluginUpdater::Installed);

    QString status = updater.message();
    const qint64 checked = m_app->settings().lastUpdateCheck();
    if (state == PluginUpdater::UpToDate && checked > 0)
        status += tr(" Checked %1.").arg(QLocale().toString(QDateTime::fromSecsSinceEpoch(checked)));
    m_status->setText(status);
    m_status->setStyleSheet(QString::fromLatin1(state == PluginUpdater::Failed ? dock::kErrorStyle : dock::kHintStyle));
}

} // namespace corvane
