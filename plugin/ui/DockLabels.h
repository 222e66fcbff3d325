#pragma once

#include <QString>

class QLabel;

namespace corvane::dock {

// The look every dock group shares: red for a failure, the palette's quiet colour for hints.
inline constexpr char kErrorStyle[] = "color: #d9534f;";
inline constexpr char kHintStyle[] = "color: palette(placeholder-text);";

// A small, quiet, selectable line under the controls it explains.
QLabel *hintLabel(const QString &text = QString());
QLabel *wrappedLabel();

} // namespace corvane::dock
