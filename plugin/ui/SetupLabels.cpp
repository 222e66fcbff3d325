#include "ui/SetupLabels.h"

#include <QLabel>
#include <QVBoxLayout>

namespace corvane::setup {

QLabel *textLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

QLabel *headingLabel(const QString &text)
{
    auto *label = textLabel();
    label->setTextFormat(Qt::RichText);
    if (!text.isEmpty())
        label->setText(QStringLiteral("<b>%1</b>").arg(text.toHtmlEscaped()));
    return label;
}

QLabel *plainLabel()
{
    auto *label = textLabel();
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setHeading(QLabel *label, const QString &text)
{
    label->setText(QStringLiteral("<b>%1</b>").arg(text.toHtmlEscaped()));
}

void showMessage(QLabel *label, const QString &text, bool isError)
{
    label->setStyleSheet(isError ? QString::fromLatin1(kErrorStyle) : QString());
    label->setText(text);
}

QWidget *holderWidget()
{
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    return holder;
}

void putInto(QWidget *holder, QWidget *widget)
{
    auto *layout = static_cast<QVBoxLayout *>(holder->layout());
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *old = item->widget())
            old->deleteLater();
        delete item;
    }
    layout->addWidget(widget);
}

} // namespace corvane::setup
