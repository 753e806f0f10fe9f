// The dispatcher: a report number to the function that reads its rows.
#include "ReportQueries.h"

#include "VelError.h"

namespace ReportQueries {

RecordsetPtr Run(qint32 rptId, const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    switch (rptId) {
    case 10901: return Run10901(db, filter, scope);
    case 10902: return Run10902(db, filter, scope);
    case 10903: return Run10903(db, filter, scope);
    case 10904: return Run10904(db, filter, scope);
    case 10905: return Run10905(db, filter, scope);
    case 10906: return Run10906(db, filter, scope);
    case 10908: return Run10908(db, filter, scope);
    case 10909: return Run10909(db, filter, scope);
    case 10910: return Run10910(db, filter, scope);
    case 10911: return Run10911(db, filter, scope);
    }
    throw VelError(QStringLiteral("没有编号为 %1 的报表").arg(rptId));
}

} // namespace ReportQueries
