#pragma once

#include "VelError.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

// Rules for filter values that the plug-in and the server data component share, so that both
// read a value alike and word its errors alike.
namespace FilterRules {

// Trims spaces at both ends: the ASCII space and the ideographic space U+3000 that Chinese
// input methods type. Tabs and line breaks are kept: they are part of the value.
QString TrimSpaces(const QString &text);

// "过滤条件“key”的值“value”不是expected" (type mismatch); long values are shortened.
VelError WrongValue(const QString &key, const QVariant &value, const QString &expected);
// "缺少过滤条件“key”" (type mismatch).
VelError Missing(const QString &key);

// A wall-clock date and time from "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-ddTHH:mm:ss",
// "yyyy-MM-dd", "yyyy/M/d H:mm:ss" or "yyyy/M/d" (surrounding spaces ignored). The result is
// in UTC spec so that no time zone shifts it or its arithmetic; invalid when the text is none
// of these forms.
QDateTime ParseWallClock(const QString &text);
// The same wall-clock reading of a date value (its date and time of day as they are shown).
QDateTime WallClock(const QDateTime &value);

} // namespace FilterRules
