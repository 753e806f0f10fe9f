#pragma once

#include "BranchScope.h"
#include "Types.h"

#include <QString>
#include <QVariantList>

class Database;
class DbDriver;
class Dictionary;

// One SELECT with its bound values.
struct SqlQuery
{
    QString sql;
    QVariantList params;
};

namespace ReportQueries {

// The rows of a report for a filter, within the scope. Throws VelError for an unknown report or a
// bad filter.
RecordsetPtr Run(qint32 rptId, const Database &db, const Dictionary *filter, const BranchScope &scope);

// A lookup list (LookupKind) within the scope: "FNumber" and "FName", ordered by code, at most
// `limit` rows. `condition` is one of the dialogs' fixed conditions; `searchText` is bound.
RecordsetPtr Lookup(const Database &db, qint32 lookupType, const QString &condition, const QString &searchText,
                    qint32 limit, const BranchScope &scope);

// The reports' main SELECTs, exposed for benchmarks that time the same SQL elsewhere and for
// plan checks. `datedLines`: sale_line carries its bill's FDate (Schema::HasDatedLines), which
// the queries then bound too, so that a partitioned chain reads the period's partitions only.
SqlQuery Sales10902(const DbDriver &driver, const Dictionary *filter, const BranchScope &scope,
                    bool datedLines = false);
SqlQuery Lines10903(const DbDriver &driver, const Dictionary *filter, const BranchScope &scope,
                    bool datedLines = false);
// Report 10901's movements of the month.
SqlQuery Movements10901(const DbDriver &driver, const Dictionary *filter, const BranchScope &scope);

RecordsetPtr Run10901(const Database &db, const Dictionary *filter, const BranchScope &scope);
RecordsetPtr Run10902(const Database &db, const Dictionary *filter, const BranchScope &scope);
RecordsetPtr Run10903(const Database &db, const Dictionary *filter, const BranchScope &scope);
RecordsetPtr Run10904(const Database &db, const Dictionary *filter, const BranchScope &scope);
RecordsetPtr Run10905(const Database &db, const Dictionary *filter, const BranchScope &scope);
RecordsetPtr Run10906(const Database &db, const Dictionary *filter, const BranchScope &scope);
// The month's stored-value liability roll-forward per branch and card type.
RecordsetPtr Run10908(const Database &db, const Dictionary *filter, const BranchScope &scope);
// Stored-value ageing as at a cut-off per issuing branch and card type, or the cards above a limit.
RecordsetPtr Run10909(const Database &db, const Dictionary *filter, const BranchScope &scope);
// The paid part of stored value spent per issuing branch x spending branch over a period.
RecordsetPtr Run10910(const Database &db, const Dictionary *filter, const BranchScope &scope);
// Prepaid funds per issuing branch at a quarter's end: custody required, share of last year's sales.
RecordsetPtr Run10911(const Database &db, const Dictionary *filter, const BranchScope &scope);

} // namespace ReportQueries
