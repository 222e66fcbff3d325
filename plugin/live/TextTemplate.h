#pragma once

#include <QString>

namespace corvane {

class LiveData;
struct ScoreState;

// Fills a score template such as "{home_score} - {away_score}" from the live fields.
// A placeholder is a name of ASCII letters, digits and underscores in braces; "{sport}" is
// the live sport. Unknown names, and every placeholder when `live` is null, become empty
// text; anything that is not a placeholder is copied as it is.
QString renderTemplate(const QString &templateText, const LiveData *live);
// The same from one moment of the scoreboard, as the sources render what is shown.
QString renderTemplate(const QString &templateText, const ScoreState &state);

} // namespace corvane
