#include "Reports.h"

#include "Dictionary.h"

std::unique_ptr<IQueryReport> NewReport(qint32 rptId)
{
    switch (rptId) {
    case 10901: return std::make_unique<Rpt10901>();
    case 10902: return std::make_unique<Rpt10902>();
    case 10903: return std::make_unique<Rpt10903>();
    case 10904: return std::make_unique<Rpt10904>();
    case 10905: return std::make_unique<Rpt10905>();
    case 10906: return std::make_unique<Rpt10906>();
    case 10908: return std::make_unique<Rpt10908>();
    case 10909: return std::make_unique<Rpt10909>();
    case 10910: return std::make_unique<Rpt10910>();
    case 10911: return std::make_unique<Rpt10911>();
    default: return nullptr;
    }
}
