#pragma once

#include <QList>
#include <QString>

// What a host needs to know about the plug-in without loading it: the reports it offers, the
// ProgIDs to create them by, and the interface version a host is built for. Everything else is
// reached by name through "VelVipRpt.Application".
namespace VelVipRpt {

// The version of the by-name interface (ProgIDs, properties, methods, dictionary keys). A
// plug-in whose metadata names another "InterfaceVersion" is not loaded.
inline constexpr int InterfaceVersion = 1;

inline constexpr const char *ApplicationProgId = "VelVipRpt.Application";

struct ReportEntry
{
    qint32 id;
    const char *progId;   // creates the report class itself
    const char *name;     // its "Name" property (UTF-8)
};

inline constexpr ReportEntry Reports[] = {
    {10901, "VelVipRpt.Rpt10901", "储值积分变动表"},
    {10902, "VelVipRpt.Rpt10902", "会员消费表"},
    {10903, "VelVipRpt.Rpt10903", "会员消费明细表"},
    {10904, "VelVipRpt.Rpt10904", "礼品兑换表"},
    {10905, "VelVipRpt.Rpt10905", "充值流水表"},
    {10906, "VelVipRpt.Rpt10906", "商品零售价格资料表"},
    {10908, "VelVipRpt.Rpt10908", "储值负债变动表"},
    {10909, "VelVipRpt.Rpt10909", "储值余额账龄表"},
    {10910, "VelVipRpt.Rpt10910", "跨店结算表"},
    {10911, "VelVipRpt.Rpt10911", "预付资金存管表"},
};

// The report ids, in order.
inline QList<qint32> ReportIds()
{
    QList<qint32> ids;
    for (const ReportEntry &r : Reports)
        ids.append(r.id);
    return ids;
}

// The report's entry, or nullptr for an id the plug-in does not offer.
inline const ReportEntry *FindReport(qint32 id)
{
    for (const ReportEntry &r : Reports) {
        if (r.id == id)
            return &r;
    }
    return nullptr;
}

} // namespace VelVipRpt
