#include "TabTitle.h"

#include "Dictionary.h"
#include "ReportOutput.h"

#include <QDate>
#include <QDateTime>

namespace TabTitle {

QDate DateOf(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QDateTime || value.metaType().id() == QMetaType::QDate)
        return value.toDate();
    return QDate::fromString(value.toString().trimmed().left(10), QStringLiteral("yyyy-MM-dd"));
}

QString Period(const DictionaryPtr &filter)
{
    if (!filter)
        return {};
    const QVariant year = filter->Value(QStringLiteral("Year"));
    const QVariant month = filter->Value(QStringLiteral("Month"));
    if (year.isValid() && month.isValid())
        return QStringLiteral("%1-%2").arg(year.toInt()).arg(month.toInt(), 2, 10, QLatin1Char('0'));
    if (const QVariant quarter = filter->Value(QStringLiteral("Quarter")); year.isValid() && quarter.isValid())
        return QStringLiteral("%1-Q%2").arg(year.toInt()).arg(quarter.toInt());
    if (!filter->Value(QStringLiteral("BDate")).isValid()) {
        // A report as at one moment.
        const QDate cut = DateOf(filter->Value(QStringLiteral("EDate")));
        return cut.isValid() ? cut.toString(QStringLiteral("yyyy-MM-dd")) : QString();
    }
    const auto period = Present::Covered(filter->Value(QStringLiteral("RptID")).toInt(),
                                         filter->Value(QStringLiteral("BDate")), filter->Value(QStringLiteral("EDate")));
    return period ? Present::PeriodShort(*period) : QString();
}

QString ForReport(const QString &name, const DictionaryPtr &filter)
{
    const QString period = Period(filter);
    return period.isEmpty() ? name : name + QLatin1Char(' ') + period;
}

} // namespace TabTitle
