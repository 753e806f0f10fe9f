// What reaches the service and its workers from outside: a run request's body (the filter JSON
// plus "period", for a report the first byte picks, and the branch check a branch user's request
// goes through), and the frames between the service and a worker, decoded as either side does.
#include "Dictionary.h"
#include "ServiceFilter.h"
#include "VelError.h"
#include "WorkerProtocol.h"

#include <QDate>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    // A decoded frame encodes to a frame that decodes to the same.
    if (const auto request = WorkerRequest::Decode(rest)) {
        const auto again = WorkerRequest::Decode(request->Encode());
        if (!again || again->Encode() != request->Encode())
            std::abort();
    }
    if (const auto answer = WorkerAnswer::Decode(rest)) {
        const auto again = WorkerAnswer::Decode(answer->Encode());
        if (!again || again->Encode() != answer->Encode())
            std::abort();
    }
    const qint32 rptId = 10901 + data[0] % 6;
    try {
        const ServiceFilter::Prepared p = ServiceFilter::FromJson(rptId, rest, QDate(2024, 5, 15));
        if (p.errors.isEmpty() && p.filter)
            (void)ServiceFilter::RefusedAtBranch(rptId, *p.filter, QStringLiteral("002"));
    } catch (const VelError &) {
    }
    return 0;
}
