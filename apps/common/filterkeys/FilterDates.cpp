#include "FilterDates.h"

#include "Dictionary.h"
#include "ReportKeys.h"
#include "VelError.h"
#include "WallClock.h"

#include <QRegularExpression>

namespace FilterDates {

namespace {

std::optional<QDate> parseMonth(const QString &text)
{
    static const QRegularExpression re(QStringLiteral(R"(^(\d{4})(?:[-/.](\d{1,2})|年(\d{1,2})月)$)"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QStringView month = m.capturedView(2).isEmpty() ? m.capturedView(3) : m.capturedView(2);
    const QDate first(m.captured(1).toInt(), month.toInt(), 1);
    return first.isValid() ? std::optional(first) : std::nullopt;
}

std::optional<Period> parseSingle(const QString &text, const QDate &today)
{
    if (const auto relative = WallClock::RelativePeriod(text, today))
        return Period{relative->first, relative->second};
    static const QRegularExpression year(QStringLiteral(R"(^(\d{4})年?$)"));
    if (const QRegularExpressionMatch m = year.match(text); m.hasMatch()) {
        const int y = m.captured(1).toInt();
        return Period{QDate(y, 1, 1), QDate(y, 12, 31)};
    }
    if (const auto first = parseMonth(text))
        return Period{*first, first->addMonths(1).addDays(-1)};
    if (const auto day = WallClock::Read(text); day && day->time() == QTime(0, 0))
        return Period{day->date(), day->date()};
    return std::nullopt;
}

} // namespace

QString NotADateMessage(const QString &key, const QString &text)
{
    return QStringLiteral("过滤条件“%1”的值“%2”不是可识别的日期，请写成 2024-05-31 或 2024-05-31 23:59:59")
        .arg(key, text.left(40));
}

void NormaliseBounds(Dictionary &filter)
{
    for (const auto &[key, bound] : {std::pair{QStringLiteral("BDate"), WallClock::Bound::Begin},
                                     std::pair{QStringLiteral("EDate"), WallClock::Bound::End}}) {
        const QVariant value = filter.Value(key);
        if (value.typeId() != QMetaType::QString || value.toString().trimmed().isEmpty())
            continue;
        const auto parsed = WallClock::Read(value.toString(), bound);
        if (!parsed)
            throw VelError(NotADateMessage(key, value.toString()), Vel::ErrTypeMismatch);
        filter.SetValue(key, WallClock::Text(*parsed));
    }
}

Period ParsePeriod(const QString &text, const QDate &today)
{
    const QString trimmed = text.trimmed();
    const qsizetype dots = trimmed.indexOf(QStringLiteral(".."));
    const auto unknown = [&] {
        return VelError(QStringLiteral("期间“%1”无法识别，可写 2024-05、2024、2024-05-01..2024-05-31、今天、昨天、本周、上周、本月、上月、本月至今、本年、上年或本年至今")
                            .arg(trimmed.left(40)));
    };
    if (dots < 0) {
        if (const auto single = parseSingle(trimmed, today))
            return *single;
        throw unknown();
    }
    const auto from = parseSingle(trimmed.left(dots).trimmed(), today);
    const auto to = parseSingle(trimmed.mid(dots + 2).trimmed(), today);
    if (!from || !to)
        throw unknown();
    if (from->first > to->last)
        throw VelError(QStringLiteral("期间“%1”的起始日期晚于截止日期").arg(trimmed));
    return Period{from->first, to->last};
}

QList<QPair<QString, QVariant>> PeriodKeys(qint32 rptId, const Period &period)
{
    if (ReportKeys::Find(rptId, QStringLiteral("Month"))) {
        const QDate first(period.first.year(), period.first.month(), 1);
        if (period.first != first || period.last != first.addMonths(1).addDays(-1))
            throw VelError(QStringLiteral("报表 %1 按自然月查询，期间应为一个整月（例如 2024-05 或 本月）").arg(rptId));
        // The types the month dialog writes.
        return {{QStringLiteral("Year"), qint32(first.year())}, {QStringLiteral("Month"), double(first.month())}};
    }
    if (ReportKeys::Find(rptId, QStringLiteral("Quarter"))) {
        const QDate first(period.first.year(), (period.first.month() - 1) / 3 * 3 + 1, 1);
        if (period.first != first || period.last != first.addMonths(3).addDays(-1))
            throw VelError(QStringLiteral("报表 %1 按季度查询，期间应为一个整季（例如 2024-04..2024-06）").arg(rptId));
        return {{QStringLiteral("Year"), qint32(first.year())}, {QStringLiteral("Quarter"), qint32(first.month() / 3 + 1)}};
    }
    // A report as at one moment takes the period's end.
    if (!ReportKeys::Find(rptId, QStringLiteral("BDate")) && ReportKeys::Find(rptId, QStringLiteral("EDate")))
        return {{QStringLiteral("EDate"), WallClock::Text(WallClock::At(period.last, QTime(23, 59, 59)))}};
    if (!ReportKeys::Find(rptId, QStringLiteral("BDate")))
        throw VelError(QStringLiteral("报表 %1 没有日期条件，不能指定期间").arg(rptId));
    return {{QStringLiteral("BDate"), WallClock::Text(WallClock::At(period.first))},
            {QStringLiteral("EDate"), WallClock::Text(WallClock::At(period.last, QTime(23, 59, 59)))}};
}

} // namespace FilterDates
