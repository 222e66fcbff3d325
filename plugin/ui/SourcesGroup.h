#pragma once

#include <QGroupBox>

namespace corvane {

// The dock's "Show it in OBS" group: adds a score text or a graphic to the current scene.
class SourcesGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit SourcesGroup(QWidget *parent = nullptr);
};

} // namespace corvane
