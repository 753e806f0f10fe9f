#include "WallClock.h"

#include <QRegularExpression>

namespace WallClock {

namespace {

// Year, month and day with one separator used twice, or eight digits, or 年月日; then an
// optional time of day.
const QRegularExpression &pattern()
{
    static const QRegularExpression re(QStringLiteral(
        R"(^(?:(\d{4})([-/.])(\d{1,2})\2(\d{1,2})|(\d{4})(\d{2})(\d{2})|(\d{4})年(\d{1,2})月(\d{1,2})日))"
        R"((?:(?:\s+|T)(\d{1,2}):(\d{2})(?::(\d{2}))?)?$)"));
    return re;
}

int number(const QRegularExpressionMatch &m, std::initializer_list<int> groups)
{
    for (int g : groups)
        if (!m.capturedView(g).isEmpty())
            return m.capturedView(g).toInt();
    return -1;
}

} // namespace

std::optional<QDateTime> Read(const QString &text, Bound bound)
{
    const QRegularExpressionMatch m = pattern().match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(number(m, {1, 5, 8}), number(m, {3, 6, 9}), number(m, {4, 7, 10}));
    const bool end = bound == Bound::End;
    QTime time = end ? QTime(23, 59, 59) : QTime(0, 0);
    if (!m.capturedView(11).isEmpty()) {
        const int seconds = m.capturedView(13).isEmpty() ? (end ? 59 : 0) : m.capturedView(13).toInt();
        time = QTime(m.capturedView(11).toInt(), m.capturedView(12).toInt(), seconds);
    }
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return At(date, time);
}

QDateTime At(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::UTC);
}

QDateTime Of(const QDateTime &value)
{
    return value.isValid() ? At(value.date(), value.time()) : QDateTime();
}

QString Text(const QDateTime &value)
{
    return value.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

const QStringList &RelativePeriodNames()
{
    static const QStringList names{QStringLiteral("今天"), QStringLiteral("昨天"), QStringLiteral("本周"),
                                   QStringLiteral("上周"), QStringLiteral("本月"), QStringLiteral("上月"),
                                   QStringLiteral("本月至今"), QStringLiteral("本年"), QStringLiteral("上年"),
                                   QStringLiteral("本年至今")};
    return names;
}

std::optional<std::pair<QDate, QDate>> RelativePeriod(QStringView name, const QDate &today)
{
    const QDate month(today.year(), today.month(), 1);
    const QDate monday = today.addDays(1 - today.dayOfWeek());
    const QDate year(today.year(), 1, 1);
    const QDate quarter(today.year(), (today.month() - 1) / 3 * 3 + 1, 1);
    if (name == u"本季度")
        return std::pair{quarter, quarter.addMonths(3).addDays(-1)};
    if (name == u"上季度")
        return std::pair{quarter.addMonths(-3), quarter.addDays(-1)};
    if (name == u"今天")
        return std::pair{today, today};
    if (name == u"昨天")
        return std::pair{today.addDays(-1), today.addDays(-1)};
    if (name == u"本周")
        return std::pair{monday, monday.addDays(6)};
    if (name == u"上周")
        return std::pair{monday.addDays(-7), monday.addDays(-1)};
    if (name == u"本月")
        return std::pair{month, month.addMonths(1).addDays(-1)};
    if (name == u"上月")
        return std::pair{month.addMonths(-1), month.addDays(-1)};
    if (name == u"本月至今")
        return std::pair{month, today};
    if (name == u"本年")
        return std::pair{year, year.addYears(1).addDays(-1)};
    if (name == u"上年")
        return std::pair{year.addYears(-1), year.addDays(-1)};
    if (name == u"本年至今")
        return std::pair{year, today};
    return std::nullopt;
}

} // namespace WallClock
