#include "live/ShowCondition.h"

#include "live/ScoreState.h"

#include <QRegularExpression>

#include <cmath>
#include <iterator>

namespace corvane {

namespace {

struct OpName {
    ShowCondition::Op op;
    const char *key;
    const char *label; // UTF-8
};

constexpr OpName kOps[] = {
    {ShowCondition::Op::Equal, "eq", "="},
    {ShowCondition::Op::NotEqual, "ne", "\u2260"},
    {ShowCondition::Op::Less, "lt", "<"},
    {ShowCondition::Op::LessOrEqual, "le", "\u2264"},
    {ShowCondition::Op::Greater, "gt", ">"},
    {ShowCondition::Op::GreaterOrEqual, "ge", "\u2265"},
    {ShowCondition::Op::Contains, "contains", "contains"},
    {ShowCondition::Op::IsEmpty, "empty", "is empty"},
    {ShowCondition::Op::IsNotEmpty, "not_empty", "is not empty"},
};

const OpName *find(ShowCondition::Op op)
{
    for (const OpName &name : kOps)
        if (name.op == op)
            return &name;
    return nullptr;
}

bool readNumber(const QString &text, double *out)
{
    bool ok = false;
    const double d = text.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return false;
    *out = d;
    return true;
}

// A game clock as scoreboards show it: "M:SS", "MM:SS", "H:MM:SS", or "SS.t" in the last
// minute; in seconds.
bool readClock(const QString &text, double *out)
{
    static const QRegularExpression clock(QStringLiteral("^(?:(\\d{1,2}):)?(\\d{1,2}):([0-5]\\d)$"));
    static const QRegularExpression tenths(QStringLiteral("^\\d{1,2}\\.\\d$"));
    if (tenths.match(text).hasMatch())
        return readNumber(text, out);
    const QRegularExpressionMatch match = clock.match(text);
    if (!match.hasMatch())
        return false;
    const int hours = match.captured(1).toInt();
    const int minutes = match.captured(2).toInt();
    if (match.hasCaptured(1) && minutes > 59)
        return false;
    *out = hours * 3600.0 + minutes * 60.0 + match.captured(3).toInt();
    return true;
}

// Both sides as clocks, else both as numbers.
bool readPair(const QString &left, const QString &right, double *l, double *r)
{
    return (readClock(left, l) && readClock(right, r)) || (readNumber(left, l) && readNumber(right, r));
}

// -1, 0 or 1; `comparable` false when the two sides have no order (number against text,
// or an empty side).
int compare(const QString &left, const QString &right, bool *comparable)
{
    double l = 0, r = 0;
    if (readPair(left, right, &l, &r)) {
        *comparable = true;
        return l < r ? -1 : (l > r ? 1 : 0);
    }
    const bool leftNumber = readNumber(left, &l);
    const bool rightNumber = readNumber(right, &r);
    *comparable = leftNumber == rightNumber && !left.isEmpty() && !right.isEmpty();
    const int c = left.compare(right, Qt::CaseInsensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool equal(const QString &left, const QString &right)
{
    double l = 0, r = 0;
    if (readPair(left, right, &l, &r))
        return l == r;
    return left.compare(right, Qt::CaseInsensitive) == 0;
}

} // namespace

bool ShowCondition::holds(const ScoreState &state) const
{
    const QString left = state.value(field.trimmed()).trimmed();
    const QString right = value.trimmed();
    bool comparable = false;
    switch (op) {
    case Op::Equal:
        return equal(left, right);
    case Op::NotEqual:
        return !equal(left, right);
    case Op::Less:
        return compare(left, right, &comparable) < 0 && comparable;
    case Op::LessOrEqual:
        return compare(left, right, &comparable) <= 0 && comparable;
    case Op::Greater:
        return compare(left, right, &comparable) > 0 && comparable;
    case Op::GreaterOrEqual:
        return compare(left, right, &comparable) >= 0 && comparable;
    case Op::Contains:
        return left.contains(right, Qt::CaseInsensitive);
    case Op::IsEmpty:
        return left.isEmpty();
    case Op::IsNotEmpty:
        return !left.isEmpty();
    }
    return false;
}

bool ShowCondition::allHold(const QList<ShowCondition> &conditions, Match match, const ScoreState &state)
{
    bool anyUsed = false;
    for (const ShowCondition &condition : conditions) {
        if (condition.field.trimmed().isEmpty())
            continue;
        anyUsed = true;
        const bool holds = condition.holds(state);
        if (match == Match::All && !holds)
            return false;
        if (match == Match::Any && holds)
            return true;
    }
    return match == Match::All || !anyUsed;
}

QString ShowCondition::key(Op op)
{
    const OpName *name = find(op);
    return name ? QString::fromLatin1(name->key) : QString();
}

QString ShowCondition::label(Op op)
{
    const OpName *name = find(op);
    return name ? QString::fromUtf8(name->label) : QString();
}

bool ShowCondition::fromKey(const QString &key, Op *op)
{
    for (const OpName &name : kOps) {
        if (key == QLatin1String(name.key)) {
            *op = name.op;
            return true;
        }
    }
    return false;
}

QList<ShowCondition::Op> ShowCondition::allOps()
{
    QList<Op> ops;
    for (const OpName &name : kOps)
        ops.append(name.op);
    return ops;
}

} // namespace corvane
