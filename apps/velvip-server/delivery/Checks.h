#pragma once

#include <QString>

// Values that reach a mail header, an SMTP command, a file name or a time zone, checked where
// they enter (user commands, schedule commands, the API, the service's options). Each returns
// one sentence naming the field, or an empty text when the value is good.
namespace DeliveryCheck {

// A plain address "local@domain": printable ASCII, no spaces, brackets, quotes or line breaks.
QString Address(const QString &field, const QString &value);
// A branch number: 1 to 16 letters, digits, '-' or '_'.
QString Branch(const QString &field, const QString &value);
// A zone name such as Asia/Shanghai or UTC; never empty, never an offset such as UTC+8.
QString Zone(const QString &field, const QString &value);

} // namespace DeliveryCheck
