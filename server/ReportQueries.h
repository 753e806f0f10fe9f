#pragma once

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

// The rows of a report for a filter. Throws VelError for an unknown report or a bad filter.
RecordsetPtr Run(qint32 rptId, const Database &db, const Dictionary *filter);

// The reports' main SELECTs, exposed for benchmarks that time the same SQL elsewhere and for
// plan checks. `datedLines`: sale_line carries its bill's FDate (Schema::HasDatedLines), which
// the queries then bound too, so that a partitioned chain reads the period's partitions only.
SqlQuery Sales10902(const DbDriver &driver, const Dictionary *filter, bool datedLines = false);
SqlQuery Lines10903(const DbDriver &driver, const Dictionary *filter, bool datedLines = false);
// Report 10901's movements of the month.
SqlQuery Movements10901(const DbDriver &driver, const Dictionary *filter);

RecordsetPtr Run10901(const Database &db, const Dictionary *filter);
RecordsetPtr Run10902(const Database &db, const Dictionary *filter);
RecordsetPtr Run10903(const Database &db, const Dictionary *filter);
RecordsetPtr Run10904(const Database &db, const Dictionary *filter);
RecordsetPtr Run10905(const Database &db, const Dictionary *filter);
RecordsetPtr Run10906(const Database &db, const Dictionary *filter);

} // namespace ReportQueries
