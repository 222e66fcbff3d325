#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QString>
#include <QWidget>

namespace corvane::test {

// Finds widgets below `root` the way an operator does, by what they show; null when none.
template <typename T> T *byText(QWidget *root, const QString &text)
{
    for (T *widget : root->findChildren<T *>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

inline QLineEdit *byPlaceholder(QWidget *root, const QString &text)
{
    for (QLineEdit *field : root->findChildren<QLineEdit *>()) {
        if (field->placeholderText() == text)
            return field;
    }
    return nullptr;
}

inline QGroupBox *groupTitled(QWidget *root, const QString &title)
{
    for (QGroupBox *box : root->findChildren<QGroupBox *>()) {
        if (box->title() == title)
            return box;
    }
    return nullptr;
}

} // namespace corvane::test
