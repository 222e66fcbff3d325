#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace corvane {

// The questions the panels put to the operator: a yes/no confirmation and one line of typed
// text. By default Qt's message box and input dialog ask; tests install their own answers so
// that no modal window has to be found and clicked.
class Prompter {
public:
    enum class Tone { Question, Warning };

    struct Question {
        QString title;
        QString text;
        Tone tone = Tone::Question;
    };

    using ConfirmHandler = std::function<bool(QWidget *parent, const Question &question)>;
    // Returns the typed text, or nothing when the operator cancelled.
    using TextHandler = std::function<std::optional<QString>(QWidget *parent, const Question &question)>;

    static bool confirm(QWidget *parent, const QString &title, const QString &text, Tone tone = Tone::Question);
    static std::optional<QString> askText(QWidget *parent, const QString &title, const QString &text);

    // Replaces the dialogs process-wide; empty handlers bring Qt's dialogs back.
    static void setHandlersForTesting(ConfirmHandler confirm, TextHandler text);
};

} // namespace corvane
