#pragma once

#include <QString>
#include <QVariant>

// How a filter value is kept in the scheme file: a type tag and a text. Only plain values are
// kept (16/32/64-bit integers, double, bool, text, date, date-time, empty); objects such as
// nested dictionaries are not filter values.
namespace SchemeValues {

// False when the value is not one that a scheme keeps.
bool Encode(const QVariant &value, QString &type, QString &text);
QVariant Decode(const QString &type, const QString &text);

} // namespace SchemeValues
