#pragma once

#include "Types.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// What a report run hands the host, taken together: the five results of the facade plus the
// filter that produced them. The containers are shared with the facade, never copied.
struct ReportOutput
{
    DictionaryPtr result;
    DictionaryPtr property;
    DictionaryPtr filter;
    VectorPtr header;
    VectorPtr title;
    RecordsetPtr rs;
    // The order a host shows the rows in (record-set positions), when it sorted them.
    std::shared_ptr<const std::vector<qint64>> rowOrder;
    // The run failed because the user stopped it (a host knows; the result holds only text).
    bool cancelled = false;

    bool Ok() const;
    QString Error() const;
    // The report's "Name" property, or the empty text.
    QString Name() const;
    qint32 FrozenColumns() const;
    bool SortEnabled() const;
    // Title block captions ordered by "FIndex"; lines without a caption are left out.
    QStringList TitleLines() const;
    // The moments the rows cover, both included, read from Result("RptTitleObject")
    // ("ShowDateDiff"); for the ledger (10901), whose title block is empty, its month from the
    // filter ("期间：2024年5月"); else empty.
    QString PeriodLine() const;
    // One short line per key the user set, in the key table's wording ("消费分店 002 至 002",
    // "会员卡号 80000003"); dates are the period line's, title-only keys the title block's.
    QStringList FilterLines() const;
    // Title line, block lines, filter lines and period line, as the grid shows them: what
    // every export puts above the rows.
    QStringList TitleBlock() const;
};

namespace Present {

// The first and last moment a report's rows cover, both included; a null side is open.
struct CoveredPeriod
{
    QDateTime begin, end;
    // Both sides set, from 00:00:00 of a day to 23:59:59 of a day.
    bool WholeDays() const;
};

// What a report's "BDate" and "EDate" (date-time values or "yyyy-MM-dd[ HH:mm:ss]" text)
// cover: as given, except that report 10902 counts whole days (it asks the server up to the
// start of the day after its end). Empty when a value is in no such form.
std::optional<CoveredPeriod> Covered(qint32 rptId, const QVariant &begin, const QVariant &end);

// "日期：2024-05-01 00:00:00 至 2024-05-31 23:59:59", "日期：… 起", "日期：至 …", "日期：全部".
QString PeriodText(const CoveredPeriod &period);
// "BDate,2024-05-01 00:00:00|EDate,2024-05-31 23:59:59" read as report `rptId` covers it, then
// as PeriodText. Text in another form is shown as it stands.
QString PeriodText(qint32 rptId, const QString &showDateDiff);
// For tabs and file names: "2024-05" for a whole calendar month, "2024-05-03" for one day,
// "2024-05-03~2024-05-09" for whole days, with the times ("2024-05-03 08.00~2024-05-09 00.00")
// when a side is not a whole day; empty when a side is open.
QString PeriodShort(const CoveredPeriod &period);

// The record-set field that marks summary rows (0 detail, 1 subtotal, 2 grand total).
inline constexpr const char *RowKindField = "FRowKind";

} // namespace Present
