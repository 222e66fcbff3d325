#include "ui/DockLabels.h"

#include <QLabel>

namespace corvane::dock {

QLabel *hintLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.92);
    label->setFont(font);
    label->setStyleSheet(QString::fromLatin1(kHintStyle));
    return label;
}

QLabel *wrappedLabel()
{
    auto *label = new QLabel;
    label->setWordWrap(true);
    return label;
}

} // namespace corvane::dock
