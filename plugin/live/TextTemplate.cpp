#include "live/TextTemplate.h"

#include "live/LiveData.h"
#include "live/ScoreState.h"

#include <QRegularExpression>

namespace corvane {

QString renderTemplate(const QString &templateText, const LiveData *live)
{
    return renderTemplate(templateText, live ? live->state() : ScoreState());
}

QString renderTemplate(const QString &templateText, const ScoreState &state)
{
    // Compiled once for the module; QRegularExpression is safe to share between threads.
    static const QRegularExpression placeholder(QStringLiteral("\\{([A-Za-z0-9_]+)\\}"));

    QString out;
    out.reserve(templateText.size());
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = placeholder.globalMatch(templateText);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        out += QStringView(templateText).mid(copied, match.capturedStart() - copied);
        out += state.value(match.captured(1));
        copied = match.capturedEnd();
    }
    out += QStringView(templateText).mid(copied);
    return out;
}

} // namespace corvane
