#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <ctime>

// The local time zones the date tests run under: none, no DST, a 02:00 gap and repeated hour,
// a 02:00 gap on 2024-03-10, and gaps at midnight (2024-03-10 and 2024-09-08).
inline const QList<QByteArray> TestZones{"UTC", "Asia/Shanghai", "Europe/Berlin", "America/New_York",
                                         "America/Havana", "America/Santiago"};

// Runs a test in the local time zone `zone` (none: the zone as it is), restoring it afterwards.
struct ZoneScope
{
    explicit ZoneScope(const QByteArray &zone) : old(qgetenv("TZ")), had(qEnvironmentVariableIsSet("TZ")), set(!zone.isEmpty())
    {
        if (set) {
            qputenv("TZ", zone);
            tzset();
        }
    }
    ~ZoneScope()
    {
        if (!set)
            return;
        had ? qputenv("TZ", old) : qunsetenv("TZ");
        tzset();
    }
    QByteArray old;
    bool had, set;
};
