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

} // namespace Present
