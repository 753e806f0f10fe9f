#include "ReportOutput.h"

#include "Dictionary.h"
#include "Vector.h"

#include <algorithm>

bool ReportOutput::Ok() const
{
    return result && result->Value(QStringLiteral("OK")).toBool();
}

QString ReportOutput::Error() const
{
    return result ? result->Value(QStringLiteral("Error")).toString() : QString();
}

QString ReportOutput::Name() const
{
    return property ? property->Value(QStringLiteral("Name")).toString() : QString();
}

qint32 ReportOutput::FrozenColumns() const
{
    return property ? qMax(0, property->Value(QStringLiteral("FrozenColumn")).toInt()) : 0;
}

bool ReportOutput::SortEnabled() const
{
    return property && property->Value(QStringLiteral("EnableSort")).toBool();
}

QStringList ReportOutput::TitleLines() const
{
    if (!title)
        return {};
    struct Line { int index; int order; QString caption; };
    QList<Line> lines;
    for (int i = 0; i < title->Count(); ++i) {
        const DictionaryPtr line = title->DictionaryAt(i);
        if (!line || !line->Lookup(QStringLiteral("FCaption")))
            continue;
        bool ok = false;
        int index = line->Value(QStringLiteral("FIndex")).toInt(&ok);
        lines.append({ok ? index : i, i, line->Value(QStringLiteral("FCaption")).toString()});
    }
    std::stable_sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) {
        return a.index < b.index;
    });
    QStringList captions;
    for (const Line &l : lines)
        captions << l.caption;
    return captions;
}

QString ReportOutput::PeriodLine() const
{
    if (!result)
        return {};
    const DictionaryPtr options = Vel::AsDictionary(result->Value(QStringLiteral("RptTitleObject")));
    if (options)
        return Present::PeriodText(options->Value(QStringLiteral("ShowDateDiff")).toString());
    // The ledger's title block is empty; its month comes from the filter.
    if (filter && filter->Value(QStringLiteral("RptID")).toInt() == 10901) {
        bool yearOk = false, monthOk = false;
        const int year = filter->Value(QStringLiteral("Year")).toString().trimmed().toInt(&yearOk);
        const int month = filter->Value(QStringLiteral("Month")).toString().trimmed().toInt(&monthOk);
        if (yearOk && monthOk && month >= 1 && month <= 12)
            return QStringLiteral("期间：%1年%2月").arg(year).arg(month);
    }
    return {};
}

QStringList ReportOutput::TitleBlock() const
{
    QStringList block;
    if (!Name().isEmpty())
        block << Name();
    block << TitleLines();
    const QString period = PeriodLine();
    if (!period.isEmpty())
        block << period;
    return block;
}

namespace Present {

QString PeriodText(const QString &showDateDiff)
{
    if (showDateDiff.trimmed().isEmpty())
        return {};
    QString begin, end;
    bool recognised = false;
    for (const QString &part : showDateDiff.split(QLatin1Char('|'))) {
        const qsizetype comma = part.indexOf(QLatin1Char(','));
        if (comma < 0)
            continue;
        const QString key = part.left(comma).trimmed();
        const QString value = part.mid(comma + 1).trimmed();
        if (key.compare(QLatin1String("BDate"), Qt::CaseInsensitive) == 0) {
            begin = value;
            recognised = true;
        } else if (key.compare(QLatin1String("EDate"), Qt::CaseInsensitive) == 0) {
            end = value;
            recognised = true;
        }
    }
    if (!recognised)
        return showDateDiff;
    if (begin.isEmpty() && end.isEmpty())
        return QStringLiteral("日期：全部");
    return QStringLiteral("日期：%1 至 %2").arg(begin, end);
}

} // namespace Present
