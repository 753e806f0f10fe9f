#include "Cron.h"

#include "Checks.h"
#include "VelError.h"

#include <QStringList>

namespace {

// Sets the bits of one field; false when the text is not a field within [low, high].
template <size_t N>
bool parseField(const QString &text, int low, int high, std::bitset<N> &bits, bool &any)
{
    any = text == u"*";
    for (const QString &part : text.split(u',')) {
        QString range = part;
        int step = 1;
        if (const qsizetype slash = part.indexOf(u'/'); slash >= 0) {
            bool ok = false;
            step = part.mid(slash + 1).toInt(&ok);
            if (!ok || step < 1)
                return false;
            range = part.left(slash);
        }
        int from = low, to = high;
        if (range != u"*") {
            const QStringList ends = range.split(u'-');
            bool ok1 = false, ok2 = true;
            from = ends.value(0).toInt(&ok1);
            to = ends.size() == 2 ? ends.value(1).toInt(&ok2) : (part.contains(u'/') ? high : from);
            if (!ok1 || !ok2 || ends.size() > 2 || from < low || to > high || from > to)
                return false;
        }
        for (int v = from; v <= to; v += step)
            bits.set(size_t(v));
    }
    return bits.any();
}

} // namespace

Cron::Cron(const QString &expression, const QString &zone)
    : m_zone(zone.toUtf8())
{
    const QStringList fields = expression.simplified().split(u' ');
    if (fields.size() != 5)
        throw VelError(QStringLiteral("定时“%1”应有五项：分 时 日 月 星期，例如 \"0 7 1 * *\"").arg(expression.left(60)));
    static const char *const names[] = {"分", "时", "日", "月", "星期"};
    bool any = false;
    std::bitset<8> weekdays;
    const bool ok[] = {parseField(fields[0], 0, 59, m_minutes, any), parseField(fields[1], 0, 23, m_hours, any),
                       parseField(fields[2], 1, 31, m_days, m_anyDay), parseField(fields[3], 1, 12, m_months, any),
                       parseField(fields[4], 0, 7, weekdays, m_anyWeekday)};
    for (int i = 0; i < 5; ++i)
        if (!ok[i])
            throw VelError(QStringLiteral("定时“%1”的“%2”一项“%3”无法识别").arg(expression.left(60), QString::fromUtf8(names[i]),
                                                                               fields[i].left(20)));
    for (int d = 0; d < 7; ++d)
        m_weekdays[size_t(d)] = weekdays[size_t(d)] || (d == 0 && weekdays[7]);
    if (const QString wrong = DeliveryCheck::Zone(QStringLiteral("时区"), zone); !wrong.isEmpty())
        throw VelError(wrong);
    // Days of the month that no chosen month has ("0 7 30 2 *") never run, unless the weekday
    // field also picks days.
    static const int longest[] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool fires = !m_anyWeekday && !m_anyDay;
    for (int month = 1; month <= 12 && !fires; ++month)
        for (int day = 1; m_months[size_t(month)] && day <= longest[month] && !fires; ++day)
            fires = m_days[size_t(day)];
    if (!fires)
        throw VelError(QStringLiteral("定时“%1”永远不会运行：所选的月份没有所选的日").arg(expression.left(60)));
}

bool Cron::dayMatches(const QDate &date) const
{
    if (!m_months[size_t(date.month())])
        return false;
    const bool day = m_days[size_t(date.day())];
    const bool weekday = m_weekdays[size_t(date.dayOfWeek() % 7)];
    if (m_anyDay || m_anyWeekday)
        return day && weekday;
    return day || weekday;
}

QDateTime Cron::resolve(const QDate &date, int hour, int minute) const
{
    // The wall-clock time written as if it were UTC, and the zone's offsets a day either side:
    // a moment maps to it when its own offset brings it there.
    const QDateTime wall(date, QTime(hour, minute), Qt::UTC);
    const int before = m_zone.offsetFromUtc(wall.addDays(-1));
    const int after = m_zone.offsetFromUtc(wall.addDays(1));
    std::optional<QDateTime> first;
    for (int offset : {before, after}) {
        const QDateTime moment = wall.addSecs(-offset);
        if (m_zone.offsetFromUtc(moment) == offset && (!first || moment < *first))
            first = moment;
    }
    // In a gap: the clock jumped past it, at the moment the offset before would name it.
    return first ? *first : wall.addSecs(-before);
}

std::pair<int, int> Cron::offsets(const QDate &date) const
{
    // Every offset a wall-clock time of the day can be read with (resolve looks a day either side).
    const QDateTime before(date.addDays(-2), QTime(0, 0), Qt::UTC), after(date.addDays(3), QTime(0, 0), Qt::UTC);
    const int a = m_zone.offsetFromUtc(before), b = m_zone.offsetFromUtc(after);
    return {std::min(a, b), std::max(a, b)};
}

std::optional<QDateTime> Cron::Next(const QDateTime &after) const
{
    const QDate start = after.toTimeZone(m_zone).date().addDays(-1);
    for (QDate date = start; date < start.addYears(5); date = date.addDays(1)) {
        if (!dayMatches(date))
            continue;
        // The earliest of the day: a time in a gap runs after the gap, later than the next one.
        // A time resolves to its wall clock less an offset between `low` and `high`.
        const auto [low, high] = offsets(date);
        const qint64 day = QDateTime(date, QTime(0, 0), Qt::UTC).toSecsSinceEpoch(), from = after.toSecsSinceEpoch();
        std::optional<QDateTime> best;
        for (int h = 0; h < 24; ++h)
            for (int m = 0; m_hours[size_t(h)] && m < 60; ++m) {
                const qint64 wall = day + h * 3600 + m * 60;
                if (!m_minutes[size_t(m)] || wall - low <= from)
                    continue;
                if (best && wall - high > best->toSecsSinceEpoch())
                    return best;
                if (const QDateTime slot = resolve(date, h, m); slot > after && (!best || slot < *best))
                    best = slot;
            }
        if (best)
            return best;
    }
    return std::nullopt;
}

std::optional<QDateTime> Cron::Last(const QDateTime &at, qint64 window) const
{
    // Backwards by day, latest time first; the day before the first hit is looked at too, for
    // times a gap moved.
    const QDateTime earliest = at.addSecs(-window);
    std::optional<QDateTime> last;
    const QDate first = earliest.toTimeZone(m_zone).date().addDays(-1);
    for (QDate date = at.toTimeZone(m_zone).date().addDays(1); date >= first; date = date.addDays(-1)) {
        if (last && date < last->toTimeZone(m_zone).date().addDays(-1))
            break;
        if (!dayMatches(date))
            continue;
        const auto [low, high] = offsets(date);
        const qint64 day = QDateTime(date, QTime(0, 0), Qt::UTC).toSecsSinceEpoch(), until = at.toSecsSinceEpoch();
        for (int t = 24 * 60 - 1; t >= 0; --t) {
            const int h = t / 60, m = t % 60;
            const qint64 wall = day + t * 60;
            if (!m_hours[size_t(h)] || !m_minutes[size_t(m)] || wall - high > until)
                continue;
            if (last && wall - low < last->toSecsSinceEpoch())
                break;
            if (const QDateTime slot = resolve(date, h, m); slot <= at && slot >= earliest && (!last || slot > *last))
                last = slot;
        }
    }
    return last;
}

std::optional<QDateTime> Cron::OnDate(const QDate &date) const
{
    const QDateTime dayStart = resolve(date, 0, 0);
    const auto slot = Next(dayStart.addSecs(-1));
    return slot && SlotDate(*slot) == date ? slot : std::nullopt;
}

QString Cron::SlotName(const QDateTime &slot) const
{
    return slot.toTimeZone(m_zone).toString(QStringLiteral("yyyy-MM-ddTHH:mm"));
}

QDate Cron::SlotDate(const QDateTime &slot) const
{
    return slot.toTimeZone(m_zone).date();
}
