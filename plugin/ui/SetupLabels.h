#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace corvane::setup {

// The look the wizard's pages share: bold headings, word-wrapped texts, red for failures.
inline constexpr char kErrorStyle[] = "color: #d9534f;";

QLabel *textLabel(const QString &text = QString());
QLabel *headingLabel(const QString &text = QString());
QLabel *plainLabel();
void setHeading(QLabel *label, const QString &text);
void showMessage(QLabel *label, const QString &text, bool isError);

// A place on a page for one panel made per session; putInto replaces the one it shows.
QWidget *holderWidget();
void putInto(QWidget *holder, QWidget *widget);

} // namespace corvane::setup
