// `--period` texts and typed dates, and the keys a period gives each report.
#include "FilterDates.h"
#include "FuzzText.h"
#include "VelError.h"
#include "WallClock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = FuzzText(data, size);
    WallClock::Read(text, WallClock::Bound::Begin);
    WallClock::Read(text, WallClock::Bound::End);
    try {
        const FilterDates::Period period = FilterDates::ParsePeriod(text, QDate(2024, 5, 15));
        for (qint32 rptId = 10901; rptId <= 10906; ++rptId) {
            try {
                FilterDates::PeriodKeys(rptId, period);
            } catch (const VelError &) {
            }
        }
    } catch (const VelError &) {
    }
    return 0;
}
