// The report service's run request body: the filter JSON plus "period", for a report the first
// byte picks, and the branch check a branch user's request goes through.
#include "Dictionary.h"
#include "ServiceFilter.h"
#include "VelError.h"

#include <QDate>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qint32 rptId = 10901 + data[0] % 6;
    const QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    try {
        const ServiceFilter::Prepared p = ServiceFilter::FromJson(rptId, body, QDate(2024, 5, 15));
        if (p.errors.isEmpty() && p.filter)
            (void)ServiceFilter::RefusedAtBranch(rptId, *p.filter, QStringLiteral("002"));
    } catch (const VelError &) {
    }
    return 0;
}
