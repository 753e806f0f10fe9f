#pragma once

#include <QString>
#include <QVariant>

// Column kinds by "FColType".
enum class ColumnKind { Date, Text, Quantity, UnitPrice, Amount };

ColumnKind ColumnKindFromType(const QString &colType);
// Quantities, prices and amounts are numbers: right-aligned, written as numbers.
bool IsNumericKind(ColumnKind kind);

// Grid: amounts with thousands separators. Plain: no separators (CSV, terminal tables).
enum class FormatStyle { Grid, Plain };

namespace Present {

// The shown text of a value in a column of the given kind; an empty value gives "".
QString FormatValue(const QVariant &value, ColumnKind kind, FormatStyle style);
// A value turned into a number when the column is numeric: numbers and numeric text.
bool NumericValue(const QVariant &value, double *number);
// Dates and date-times as text: "yyyy-MM-dd" when there is no time of day, else with it.
QString DateTimeText(const QVariant &value);
// Decimal places a numeric kind shows (quantities: up to this many, trailing zeros dropped).
int DecimalsOf(ColumnKind kind);

// Formatting into a caller's buffer of kCellChars, without allocating. Each returns the length
// written, or -1 when the value needs the general path (not finite, or too large).
inline constexpr int kCellChars = 64;
// A number as a numeric column of `kind` shows it.
int FormatNumber(double value, ColumnKind kind, FormatStyle style, char16_t *out);
// A whole number.
int FormatInteger(qint64 value, char16_t *out);
// A wall-clock time stored as milliseconds read as UTC: "yyyy-MM-dd", with " HH:mm:ss" when
// `withTime` is set.
int FormatWallClock(qint64 msecs, bool withTime, char16_t *out);

} // namespace Present
