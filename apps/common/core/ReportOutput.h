#pragma once

#include "Types.h"

#include <QString>
#include <QStringList>

#include <memory>
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

    bool Ok() const;
    QString Error() const;
    // The report's "Name" property, or the empty text.
    QString Name() const;
    qint32 FrozenColumns() const;
    bool SortEnabled() const;
    // Title block captions ordered by "FIndex"; lines without a caption are left out.
    QStringList TitleLines() const;
    // The readable form of Result("RptTitleObject")("ShowDateDiff"); for the ledger (10901),
    // whose title block is empty, its month from the filter ("期间：2024年5月"); else empty.
    QString PeriodLine() const;
    // Title line, block lines and period line: what every export puts above the rows.
    QStringList TitleBlock() const;
};

namespace Present {

// "BDate,2024-05-01 00:00:00|EDate,2024-05-31 23:59:59" → "日期：2024-05-01 00:00:00 至 2024-05-31 23:59:59".
// Text in another form is shown as it stands.
QString PeriodText(const QString &showDateDiff);

// The record-set field that marks summary rows (0 detail, 1 subtotal, 2 grand total).
inline constexpr const char *RowKindField = "FRowKind";

} // namespace Present
