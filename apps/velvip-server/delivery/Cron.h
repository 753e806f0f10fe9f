#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <bitset>
#include <optional>
#include <utility>

// A cron-like timing "M H DOM MON DOW" read in a time zone. Fields take "*", numbers, ranges
// "a-b", steps "*/n" or "a-b/n" and lists of these; day of week 0 or 7 is Sunday. When both day
// fields are restricted, a day matching either runs (as cron does).
//
// A slot is one run time, named by its wall-clock time in the zone ("2024-03-01T07:00"). A time
// that a change to daylight saving skips runs at the first moment after the gap; a time that
// occurs twice runs only the first time. Two timings that land on one moment are one slot.
class Cron
{
public:
    // Throws VelError with a sentence naming the field that is wrong, the unknown zone, or a
    // timing that never runs.
    Cron(const QString &expression, const QString &zone = DefaultZone());

    static QString DefaultZone() { return QStringLiteral("Asia/Shanghai"); }

    // The first slot strictly after `after`; nothing when none within five years.
    std::optional<QDateTime> Next(const QDateTime &after) const;
    // The last slot at or before `at`, looking back at most `window` seconds.
    std::optional<QDateTime> Last(const QDateTime &at, qint64 window) const;
    // The first slot on a date in the zone; nothing when the timing has none that day.
    std::optional<QDateTime> OnDate(const QDate &date) const;

    // The slot's name: its wall-clock time in the zone.
    QString SlotName(const QDateTime &slot) const;
    // The zone's date of a slot: the day relative periods are counted from.
    QDate SlotDate(const QDateTime &slot) const;
    const QTimeZone &Zone() const { return m_zone; }

private:
    bool dayMatches(const QDate &date) const;
    // The least and greatest offset from UTC in force around a date.
    std::pair<int, int> offsets(const QDate &date) const;
    // The moment a wall-clock time happens first, or the end of the gap it falls into.
    QDateTime resolve(const QDate &date, int hour, int minute) const;

    std::bitset<60> m_minutes;
    std::bitset<24> m_hours;
    std::bitset<32> m_days;
    std::bitset<13> m_months;
    std::bitset<8> m_weekdays;   // 0..6, Sunday 0
    bool m_anyDay = true, m_anyWeekday = true;
    QTimeZone m_zone;
};
