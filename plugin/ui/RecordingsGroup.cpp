#include "ui/RecordingsGroup.h"

#include "app/App.h"
#include "app/FollowedDevice.h"
#include "app/FollowedDevices.h"
#include "live/ChapterMaker.h"
#include "ui/DockLabels.h"
#include "ui/DockText.h"
#include "ui/ObsFrontend.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

namespace corvane {

RecordingsGroup::RecordingsGroup(App *app, QWidget *parent)
    : QGroupBox(tr("Recordings"), parent)
    , m_app(app)
{
    const SettingsStore &settings = m_app->settings();
    m_chapters = new QCheckBox(tr("Add chapters and a game log to recordings"));
    m_chapters->setChecked(settings.chaptersEnabled());
    m_changes = new QComboBox;
    m_changes->setAccessibleName(tr("A chapter at each change of"));
    m_changes->addItem(tr("the score or the period"), QStringLiteral("both"));
    m_changes->addItem(tr("the score"), QStringLiteral("score"));
    m_changes->addItem(tr("the period"), QStringLiteral("period"));
    m_changes->setCurrentIndex(qMax(0, m_changes->findData(settings.chapterChanges())));
    m_template = new QLineEdit(settings.chapterTemplate());
    m_template->setPlaceholderText(QString::fromUtf8(ChapterMaker::kDefaultTemplate));
    m_template->setAccessibleName(tr("Chapter name"));
    auto *changesRow = new QHBoxLayout;
    changesRow->addWidget(new QLabel(tr("A chapter at each change of")));
    changesRow->addWidget(m_changes, 1);
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_chapters);
    layout->addLayout(changesRow);
    layout->addWidget(m_template);
    layout->addLayout(buildSpacingRow());
    layout->addLayout(buildDeviceRow());
    layout->addWidget(dock::hintLabel(dockChapterHint(ObsFrontend::recordingChapterCall() != nullptr)));
    layout->addWidget(buildNotice());
    connect(m_chapters, &QCheckBox::toggled, this, [this](bool on) { m_app->settings().setChaptersEnabled(on); });
    connect(m_changes, &QComboBox::activated, this, [this] { m_app->settings().setChapterChanges(m_changes->currentData().toString()); });
    connect(m_template, &QLineEdit::editingFinished, this, [this] { m_app->settings().setChapterTemplate(m_template->text()); });
    setLayout(layout);
}

QLayout *RecordingsGroup::buildSpacingRow()
{
    m_spacing = new QSpinBox;
    m_spacing->setRange(0, 600);
    m_spacing->setSuffix(tr(" s"));
    m_spacing->setValue(m_app->settings().chapterSpacingSeconds());
    m_spacing->setAccessibleName(tr("Chapters at least this far apart"));
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Chapters at least this far apart")));
    row->addWidget(m_spacing);
    connect(m_spacing, &QSpinBox::valueChanged, this, [this](int seconds) { m_app->settings().setChapterSpacingSeconds(seconds); });
    return row;
}

QLayout *RecordingsGroup::buildDeviceRow()
{
    m_device = new QComboBox;
    m_device->setAccessibleName(tr("Chapters follow"));
    fillDevices();
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Chapters follow")));
    row->addWidget(m_device, 1);
    connect(m_device, &QComboBox::activated, this, [this] { m_app->settings().setChapterDevice(m_device->currentData().toString()); });
    connect(m_app->followed(), &FollowedDevices::followed, this, &RecordingsGroup::fillDevices);
    connect(m_app->followed(), &FollowedDevices::unfollowed, this, &RecordingsGroup::fillDevices);
    return row;
}

void RecordingsGroup::fillDevices()
{
    const QString chosen = m_app->settings().chapterDevice();
    m_device->clear();
    m_device->addItem(App::mainDeviceLabel(), QString());
    const FollowedDevices *followed = m_app->followed();
    for (const QString &id : followed->ids())
        m_device->addItem(followed->device(id)->route().label(), id);
    if (m_device->findData(chosen) < 0) {
        const bool isMain = chosen == m_app->mainDeviceId();
        m_device->addItem((isMain ? tr("%1 (the main device now)") : tr("%1 (not followed)")).arg(chosen), chosen);
    }
    m_device->setCurrentIndex(m_device->findData(chosen));
}

QLabel *RecordingsGroup::buildNotice()
{
    m_notice = new QLabel;
    m_notice->setWordWrap(true);
    m_notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_notice->setAccessibleName(tr("Recording notice"));
    m_notice->hide();
    connect(m_app, &App::recordingNotice, m_notice, [label = m_notice](const QString &text) {
        label->setText(text);
        label->show();
    });
    return m_notice;
}

} // namespace corvane
