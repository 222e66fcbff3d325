#include "ui/Prompter.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace corvane {

namespace {

Prompter::ConfirmHandler &confirmHandler()
{
    static Prompter::ConfirmHandler handler;
    return handler;
}

Prompter::TextHandler &textHandler()
{
    static Prompter::TextHandler handler;
    return handler;
}

} // namespace

bool Prompter::confirm(QWidget *parent, const QString &title, const QString &text, Tone tone)
{
    const Question question{title, text, tone};
    if (confirmHandler())
        return confirmHandler()(parent, question);
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    const auto answer = tone == Tone::Warning ? QMessageBox::warning(parent, title, text, buttons, QMessageBox::No)
                                              : QMessageBox::question(parent, title, text, buttons, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

std::optional<QString> Prompter::askText(QWidget *parent, const QString &title, const QString &text)
{
    const Question question{title, text, Tone::Warning};
    if (textHandler())
        return textHandler()(parent, question);
    bool ok = false;
    const QString typed = QInputDialog::getText(parent, title, text, QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return typed;
}

void Prompter::setHandlersForTesting(ConfirmHandler confirm, TextHandler text)
{
    confirmHandler() = std::move(confirm);
    textHandler() = std::move(text);
}

} // namespace corvane
