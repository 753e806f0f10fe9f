#include "Cron.h"

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
    if (!m_zone.isValid())
        throw VelError(QStringLiteral("时区“%1”无法识别，请写成 Asia/Shanghai 这样的名称").arg(zone.left(60)));
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

std::optional<QDateTime> Cron::Next(const QDateTime &after) const
{
    const QDate start = after.toTimeZone(m_zone).date().addDays(-1);
    for (QDate date = start; date < start.addYears(5); date = date.addDays(1)) {
        if (!dayMatches(date))
            continue;
        // The earliest of the day: a time in a gap runs after the gap, later than the next one.
        std::optional<QDateTime> best;
        for (int h = 0; h < 24; ++h)
            for (int m = 0; m_hours[size_t(h)] && m < 60; ++m)
                if (m_minutes[size_t(m)])
                    if (const QDateTime slot = resolve(date, h, m); slot > after && (!best || slot < *best))
                        best = slot;
        if (best)
            return best;
    }
    return std::nullopt;
}

std::optional<QDateTime> Cron::Last(const QDateTime &at, qint64 window) const
{
    std::optional<QDateTime> last;
    for (auto slot = Next(at.addSecs(-window - 1)); slot && *slot <= at; slot = Next(*slot))
        last = slot;
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
