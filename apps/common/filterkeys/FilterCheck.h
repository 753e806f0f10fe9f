#pragma once

#include "Types.h"

#include <QStringList>

// A filter that a person wrote (command-line pairs, a JSON file), checked against the keys of
// the report before the run. The plug-in is not involved: a filter a host hands it directly
// is run as it stands.
namespace FilterCheck {

// Checks every key of `filter` and converts each value to the type the report's dialog
// writes it in (whole numbers from text, dates in the canonical form). Returns one sentence
// per problem: a key the report does not know (with the nearest known key), a value of the
// wrong kind or outside the key's values, a required key that is missing, a range whose
// begin lies after its end. Empty when the filter is fine.
QStringList CheckAndConvert(qint32 rptId, Dictionary &filter);

// The same problems typed, for a host that words them itself: what is wrong and the keys it
// concerns (for Reversed the begin key and `end`), with the sentence above.
struct Problem
{
    enum class Kind { UnknownKey, WrongValue, Missing, Reversed };
    Kind kind;
    QString key;
    QString end;
    QString sentence;
};
QList<Problem> Check(qint32 rptId, Dictionary &filter);
// "unknown-key", "wrong-value", "missing", "reversed".
QString KindText(Problem::Kind kind);

// The report's key nearest to `key` (same letters in another case, or one or two letters
// off), or the empty text.
QString NearestKey(qint32 rptId, const QString &key);
// The name among `candidates` nearest to `word` in the same sense, or the empty text.
QString Nearest(const QString &word, const QStringList &candidates);

} // namespace FilterCheck
