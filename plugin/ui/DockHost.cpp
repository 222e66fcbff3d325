#include "ui/DockHost.h"

#include <QVBoxLayout>

#include <utility>

namespace corvane {

DockHost::DockHost(std::function<void()> fill, QWidget *parent)
    : QWidget(parent)
    , m_fill(std::move(fill))
{
}

void DockHost::setContent(QWidget *content)
{
    if (m_content || !content)
        return;
    m_content = content;
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
}

QSize DockHost::sizeHint() const
{
    fillIfEmpty();
    return QWidget::sizeHint();
}

QSize DockHost::minimumSizeHint() const
{
    fillIfEmpty();
    return QWidget::minimumSizeHint();
}

void DockHost::showEvent(QShowEvent *event)
{
    fillIfEmpty();
    QWidget::showEvent(event);
}

void DockHost::fillIfEmpty() const
{
    if (!m_content && m_fill)
        m_fill();
}

} // namespace corvane
