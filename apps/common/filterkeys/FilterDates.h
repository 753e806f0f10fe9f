#pragma once

#include "Types.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <optional>

// Dates as people type them (read by WallClock), turned into the full date-times the dialogs
// write. Both hosts use this for a filter they write themselves, so that a date-only end date
// covers its whole day in every report.
namespace FilterDates {

// Rewrites text values of "BDate" and "EDate" in the dialogs' form. Values that are not
// text (a date value a host wrote) and empty texts stay as they are. Throws VelError naming
// the key for text that is not a date.
void NormaliseBounds(Dictionary &filter);

// The message for a date text that WallClock::Read does not recognise.
QString NotADateMessage(const QString &key, const QString &text);

// A run of whole days.
struct Period {
    QDate first;
    QDate last;
};

// "2024-05", "2024", "2024-05-01", a range "A..B" of any of these, and the periods relative to
// `today`: "今天", "昨天", "本周", "上周" (Monday to Sunday), "本月", "上月", "本月至今", "本季度", "上季度", "本年",
// "上年", "本年至今".
// Throws VelError for anything else or a range that runs backwards.
Period ParsePeriod(const QString &text, const QDate &today);

// The filter keys that give the report this period: "Year"/"Month" for a report that takes
// one calendar month, "BDate"/"EDate" (start and end of day) otherwise. Throws VelError when
// the report cannot take the period.
QList<QPair<QString, QVariant>> PeriodKeys(qint32 rptId, const Period &period);

} // namespace FilterDates
