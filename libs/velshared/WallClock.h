#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <utility>

// Filter dates are the chain's own wall-clock date-times, with no time zone. They are held as
// QDateTime in UTC spec, so that neither the local zone nor arithmetic on them moves them: a
// time that a change to daylight saving skips locally, or a day that starts at 01:00 locally,
// is still a valid chain time. Every reader of a filter date (hosts, dialogs, reports and the
// data component) goes through here.
namespace WallClock {

enum class Bound { Begin, End };

// "2024-05-31", "2024-5-31", "2024/5/31", "2024.05.31", "20240531", "2024年5月31日", each
// optionally followed by "HH:mm" or "HH:mm:ss" after spaces or a "T". A missing time is the
// start (Begin) or the last second (End) of the day; missing seconds are :00 or :59. Nothing
// for other text.
std::optional<QDateTime> Read(const QString &text, Bound bound = Bound::Begin);

// The date and time of day given, as a wall-clock value.
QDateTime At(const QDate &date, const QTime &time = QTime(0, 0));
// A date value read as it is shown (its own date and time of day); invalid stays invalid.
QDateTime Of(const QDateTime &value);

// The first and last day of a period named relative to `today`: "今天", "昨天", "本周", "上周"
// (Monday to Sunday), "本月", "上月", "本月至今", "本季度", "上季度", "本年", "上年", "本年至今". Nothing for
// other names. The dialogs' quick choices, --period and scheduled deliveries all use this.
std::optional<std::pair<QDate, QDate>> RelativePeriod(QStringView name, const QDate &today);
// The names RelativePeriod knows, nearest first within each kind (days, weeks, months, years).
const QStringList &RelativePeriodNames();

// "yyyy-MM-dd HH:mm:ss", the form the dialogs write and SQL compares.
QString Text(const QDateTime &value);

} // namespace WallClock
