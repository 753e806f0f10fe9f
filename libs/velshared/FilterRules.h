#pragma once

#include "VelError.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <optional>

// Rules for filter values that the plug-in and the server data component share, so that both
// read a value alike and word its errors alike.
namespace FilterRules {

// Trims spaces at both ends: the ASCII space and the ideographic space U+3000 that Chinese
// input methods type. Tabs and line breaks are kept: they are part of the value.
QString TrimSpaces(const QString &text);

// The longest filter text: codes and names are short; a longer text is a mistake (and too long
// a LIKE pattern).
inline constexpr int MaxTextLength = 1000;
// What keeps `text` from being a filter text, as one sentence naming it `name` (the run gives
// its key, a dialog the field's caption): too long, or holding a line break, a tab or another
// control character (a filter text is one line). Empty when the text is fine.
QString TextProblem(const QString &name, const QString &text);

// "过滤条件“key”的值“value”不是expected" (type mismatch); long values are shortened.
VelError WrongValue(const QString &key, const QVariant &value, const QString &expected);
// "缺少过滤条件“key”" (type mismatch).
VelError Missing(const QString &key);

// A filter date as a wall-clock value (see WallClock): a date value as it is shown, or a date
// text (a date alone is the start of its day). Nothing for an empty value; WrongValue naming
// the key for anything that cannot be read, never an unbounded date.
std::optional<QDateTime> DateValue(const QString &key, const QVariant &value);

} // namespace FilterRules
