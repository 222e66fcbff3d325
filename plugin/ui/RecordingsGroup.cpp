#include "ui/RecordingsGroup.h"

#include "app/App.h"
#include "live/ChapterMaker.h"
#include "ui/DockLabels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    layout->addWidget(dock::hintLabel(tr("Chapters are named like a score text, with live fields in braces. Hybrid MP4 and MOV "
                                         "recordings get them as chapter markers; every recording gets a game log beside it "
                                         "(same name, .scores.txt) that a video site reads as chapters.")));
    connect(m_chapters, &QCheckBox::toggled, this, [this](bool on) { m_app->settings().setChaptersEnabled(on); });
    connect(m_changes, &QComboBox::activated, this, [this] { m_app->settings().setChapterChanges(m_changes->currentData().toString()); });
    connect(m_template, &QLineEdit::editingFinished, this, [this] { m_app->settings().setChapterTemplate(m_template->text()); });
    setLayout(layout);
}

} // namespace corvane
