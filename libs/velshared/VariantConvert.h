#pragma once

#include <QString>
#include <QVariant>

// The ordinary conversions of a Variant to a whole number, a truth value, a real number and a
// text. A value that cannot be converted throws VelError (type mismatch; overflow for whole
// numbers beyond the target's range). The empty Variant converts to 0, False and "".
namespace VariantConvert {

qint32 ToInt32(const QVariant &value);
qint16 ToInt16(const QVariant &value);
double ToDouble(const QVariant &value);
bool ToBool(const QVariant &value);
QString ToText(const QVariant &value);
// A wall-clock date value (see WallClock) from a date value or a date text.
QDateTime ToDateTime(const QVariant &value);

// A 16-bit integer Variant (QMetaType::Short); QVariant's constructors would widen it to int.
inline QVariant Short(qint16 value) { return QVariant::fromValue(value); }

// The text form of a date value used across the plug-in.
inline constexpr const char *DateTimeFormat = "yyyy-MM-dd HH:mm:ss";

} // namespace VariantConvert
