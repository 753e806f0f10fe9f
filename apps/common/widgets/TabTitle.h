#pragma once

#include "Types.h"

#include <QDate>
#include <QString>
#include <QVariant>

namespace TabTitle {

// The day of a filter's date value: a date-time, or text beginning "yyyy-MM-dd".
QDate DateOf(const QVariant &value);

// The period a filter's rows cover, as a tab and an export's file name show it: "2024-05"
// for a whole calendar month, "2024-05-03~2024-05-09" for other whole days, with times when
// a side is not a whole day (Present::PeriodShort); empty when the filter names none.
QString Period(const DictionaryPtr &filter);

// The report's name followed by its period: "会员消费表 2024-05".
QString ForReport(const QString &name, const DictionaryPtr &filter);

} // namespace TabTitle
