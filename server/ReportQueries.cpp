// The dispatcher: a report number to the function that reads its rows.
#include "ReportQueries.h"

#include "VelError.h"

namespace ReportQueries {

RecordsetPtr Run(qint32 rptId, const Database &db, const Dictionary *filter)
{
    switch (rptId) {
    case 10901: return Run10901(db, filter);
    case 10902: return Run10902(db, filter);
    case 10903: return Run10903(db, filter);
    case 10904: return Run10904(db, filter);
    case 10905: return Run10905(db, filter);
    case 10906: return Run10906(db, filter);
    }
    throw VelError(QStringLiteral("没有编号为 %1 的报表").arg(rptId));
}

} // namespace ReportQueries
