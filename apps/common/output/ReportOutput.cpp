#include "ReportOutput.h"

#include "Dictionary.h"
#include "ReportKeys.h"
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
    const qint32 rptId = filter ? filter->Value(QStringLiteral("RptID")).toInt() : 0;
    const DictionaryPtr options = Vel::AsDictionary(result->Value(QStringLiteral("RptTitleObject")));
    if (options)
        return Present::PeriodText(rptId, options->Value(QStringLiteral("ShowDateDiff")).toString());
    // Reports without a title object take their period from the filter: a month, a quarter,
    // a run of dates or a cut-off.
    auto number = [&](const char *key) {
        bool ok = false;
        const int n = filter ? filter->Value(QLatin1String(key)).toString().trimmed().toInt(&ok) : 0;
        return ok ? n : 0;
    };
    const int year = number("Year");
    if (ReportKeys::Find(rptId, QStringLiteral("Month"))) {
        const int month = number("Month");
        return year && month >= 1 && month <= 12 ? QStringLiteral("期间：%1年%2月").arg(year).arg(month) : QString();
    }
    if (ReportKeys::Find(rptId, QStringLiteral("Quarter"))) {
        const int quarter = number("Quarter");
        return year && quarter >= 1 && quarter <= 4 ? QStringLiteral("期间：%1年第%2季度").arg(year).arg(quarter) : QString();
    }
    if (!filter || !ReportKeys::Find(rptId, QStringLiteral("EDate")))
        return {};
    const QVariant begin = ReportKeys::Find(rptId, QStringLiteral("BDate")) ? filter->Value(QStringLiteral("BDate")) : QVariant();
    const auto covered = Present::Covered(rptId, begin, filter->Value(QStringLiteral("EDate")));
    if (!covered)
        return {};
    if (!begin.isValid() && covered->end.isValid())
        return QStringLiteral("截至：") + covered->end.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return Present::PeriodText(*covered);
}

QStringList ReportOutput::FilterLines() const
{
    using ReportKeys::Key;
    if (!filter)
        return {};
    const qint32 rptId = filter->Value(QStringLiteral("RptID")).toInt();
    auto text = [&](const QString &name) { return filter->Value(name).toString().trimmed(); };
    // "会员卡号起（按文本比较，空为不限）" → "会员卡号", "消费分店编码起…" → "消费分店".
    auto label = [](const Key &key) {
        QString l = key.meaning.section(QStringLiteral("（"), 0, 0);
        if (l.endsWith(u'起') || l.endsWith(u'止'))
            l.chop(1);
        if (l.endsWith(QStringLiteral("编码")) && l.size() > 2)
            l.chop(2);
        return l;
    };
    QStringList lines;
    QStringList ends;
    for (const Key &key : ReportKeys::KeysOf(rptId)) {
        if (key.kind == ReportKeys::Kind::DateTime || key.name == u"Year" || key.name == u"Month" || key.name == u"Quarter"
            || ends.contains(key.name))
            continue;
        const QString end = ReportKeys::RangeEnd(rptId, key.name);
        if (!end.isEmpty()) {
            ends << end;
            const QString b = text(key.name), e = text(end);
            if (b.isEmpty() && e.isEmpty())
                continue;
            lines << (b == e ? QStringLiteral("%1 %2").arg(label(key), b)
                      : e.isEmpty() ? QStringLiteral("%1 %2 起").arg(label(key), b)
                      : b.isEmpty() ? QStringLiteral("%1 至 %2").arg(label(key), e)
                                    : QStringLiteral("%1 %2 至 %3").arg(label(key), b, e));
        } else if (!key.choices.isEmpty()) {
            bool ok = false;
            const qint32 v = filter->Value(key.name).toString().trimmed().toInt(&ok);
            // A switch says something only when it is on; a grouping always does.
            if (!ok || (key.kind == ReportKeys::Kind::Int16 && v == 0))
                continue;
            for (const ReportKeys::Choice &c : key.choices)
                if (c.value == v)
                    lines << QStringLiteral("%1 %2").arg(key.meaning, c.meaning.section(QStringLiteral("（"), 0, 0));
        } else if (!text(key.name).isEmpty()) {
            lines << QStringLiteral("%1 %2").arg(label(key), text(key.name));
        }
    }
    return lines;
}

QStringList ReportOutput::TitleBlock() const
{
    QStringList block;
    if (!Name().isEmpty())
        block << Name();
    block << TitleLines() << FilterLines();
    const QString period = PeriodLine();
    if (!period.isEmpty())
        block << period;
    return block;
}

namespace Present {

namespace {

const char kMoment[] = "yyyy-MM-dd HH:mm:ss";

// A date-time value, or text in the canonical forms; invalid for anything else, null for
// an empty side.
std::optional<QDateTime> moment(const QVariant &value)
{
    if (value.typeId() == QMetaType::QDateTime)
        return QDateTime(value.toDateTime().date(), value.toDateTime().time());
    if (value.typeId() == QMetaType::QDate)
        return QDateTime(value.toDate(), QTime(0, 0));
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return QDateTime();
    QDateTime dt = QDateTime::fromString(text, QLatin1String(kMoment));
    if (!dt.isValid())
        dt = QDateTime(QDate::fromString(text, QStringLiteral("yyyy-MM-dd")), QTime(0, 0));
    if (!dt.isValid())
        return std::nullopt;
    return dt;
}

} // namespace

bool CoveredPeriod::WholeDays() const
{
    return begin.isValid() && end.isValid() && begin.time() == QTime(0, 0) && end.time() == QTime(23, 59, 59);
}

std::optional<CoveredPeriod> Covered(qint32 rptId, const QVariant &begin, const QVariant &end)
{
    const auto b = moment(begin), e = moment(end);
    if (!b || !e)
        return std::nullopt;
    CoveredPeriod period{*b, *e};
    if (rptId == 10902) {
        if (period.begin.isValid())
            period.begin.setTime(QTime(0, 0));
        if (period.end.isValid())
            period.end.setTime(QTime(23, 59, 59));
    }
    return period;
}

QString PeriodText(const CoveredPeriod &period)
{
    const QString b = period.begin.toString(QLatin1String(kMoment)), e = period.end.toString(QLatin1String(kMoment));
    if (b.isEmpty() && e.isEmpty())
        return QStringLiteral("日期：全部");
    if (e.isEmpty())
        return QStringLiteral("日期：%1 起").arg(b);
    if (b.isEmpty())
        return QStringLiteral("日期：至 %1").arg(e);
    return QStringLiteral("日期：%1 至 %2").arg(b, e);
}

QString PeriodText(qint32 rptId, const QString &showDateDiff)
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
    const auto period = recognised ? Covered(rptId, begin, end) : std::nullopt;
    return period ? PeriodText(*period) : showDateDiff;
}

QString PeriodShort(const CoveredPeriod &period)
{
    if (!period.begin.isValid() || !period.end.isValid())
        return {};
    const QDate b = period.begin.date(), e = period.end.date();
    if (!period.WholeDays()) {
        const QString form = QStringLiteral("yyyy-MM-dd HH.mm");
        return period.begin.toString(form) + QLatin1Char('~') + period.end.toString(form);
    }
    if (b.day() == 1 && e == b.addMonths(1).addDays(-1))
        return b.toString(QStringLiteral("yyyy-MM"));
    if (b == e)
        return b.toString(QStringLiteral("yyyy-MM-dd"));
    return b.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('~') + e.toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace Present
