#include "ui/SourcesGroup.h"

#include "ui/DockLabels.h"
#include "ui/ObsFrontend.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

SourcesGroup::SourcesGroup(QWidget *parent)
    : QGroupBox(tr("Show it in OBS"), parent)
{
    auto *addText = new QPushButton(tr("Add live score text to this scene"));
    auto *addGraphic = new QPushButton(tr("Add a graphic to this scene"));
    auto *layout = new QVBoxLayout;
    layout->addWidget(addText);
    layout->addWidget(addGraphic);
    layout->addWidget(dock::hintLabel(tr("Graphics come from your Corvane account. Pick one from the list in the source's properties.")));
    connect(addText, &QPushButton::clicked, this, [] { ObsFrontend::addSourceToScene("corvane_text", QStringLiteral("Corvane Score")); });
    connect(addGraphic, &QPushButton::clicked, this,
            [] { ObsFrontend::addSourceToScene("corvane_graphics", QStringLiteral("Corvane Graphics")); });
    setLayout(layout);
}

} // namespace corvane
