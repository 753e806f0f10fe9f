#include "Reports.h"

#include "ReportLayout.h"
#include "FilterRules.h"
#include "HostContextReader.h"
#include "VariantConvert.h"

#include "Dictionary.h"
#include "VelError.h"

Rpt10902::Rpt10902(QObject *parent) : ReportFrame(10902, parent) {}

bool Rpt10902::AppendColumns()
{
    const QString groupBy = GroupByText();
    // The branch of sale, where cards are shared between branches and the site is not a branch.
    const auto branchColumn = [] {
        if (ShowsBranchOfSale())
            AddColumns({{"消费分店$", "", "1", "FBranchName"}});
    };
    if (groupBy == QLatin1String("0")) {
        AddColumns({{"会员卡号$", "", "1", "FNo"}, {"会员姓名$", "", "1", "FVipName"}, {"卡类别$", "", "1", "Ftype_name"}});
        branchColumn();
    } else if (groupBy == QLatin1String("1")) {
        AddColumns({{"消费分店$", "", "1", "FNo"}, {"会员卡号$", "", "1", "FVipNo"},
                    {"会员姓名$", "", "1", "FVipName"}, {"卡类别$", "", "1", "Ftype_name"}});
    } else if (groupBy == QLatin1String("2")) {
        AddColumns({{"卡类别$", "", "1", "FNo"}});
        branchColumn();
        AddColumns({{"会员卡号$", "", "1", "FVipNo"}, {"会员姓名$", "", "1", "FVipName"}});
    } else if (groupBy == QLatin1String("3")) {
        AddColumns({{"业务员$", "", "1", "FNo"}});
        branchColumn();
        AddColumns({{"会员卡号$", "", "1", "FVipNo"}, {"会员姓名$", "", "1", "FVipName"}});
    } else {
        return false;
    }

    AddColumns({
        {"原价金额$", "", "6", "FAmount"},
        {"销售金额$", "", "6", "FpayAmount"},
        {"折让金额$", "", "6", "FDiscountAmount"},
        {"累计消费次数$", "", "1", "ftimes"},
    });
    const qint32 grouping = VariantConvert::ToInt32(FilterValue(QStringLiteral("GroupBy")));
    if (grouping == 1) {
        AddColumns({
            {"会员生日$", "", "0", "vip_birthday", false},
            {"会员手机号$", "", "1", "vip_mobile", false},
            {"固定电话$", "", "1", "FVipTel", false},
            {"地址$", "", "1", "FVipAdd", false},
        });
    }
    if (grouping != 3)
        AddColumns({{"业务员$", "", "1", "FEmpName", false}});
    return true;
}

void Rpt10902::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 3, false);
}

namespace {

// The end date as a wall-clock value, with the data component's wording for a bad one.
QDateTime wallClockEnd(const QVariant &value)
{
    if (const auto end = FilterRules::DateValue(QStringLiteral("EDate"), value))
        return *end;
    throw FilterRules::Missing(QStringLiteral("EDate"));
}

} // namespace

void Rpt10902::BeforeRequest()
{
    // The server counts whole days up to, not including, the end bound it receives. The day is
    // added in wall-clock time: a change to or from daylight saving moves no end time.
    m_shiftedEnd = wallClockEnd(FilterValue(QStringLiteral("EDate"))).addDays(1);
    m_filter->SetValue(QStringLiteral("EDate"), QVariant(m_shiftedEnd));
}

void Rpt10902::AfterRequest()
{
    if (!m_shiftedEnd.isValid())
        return;
    const QDateTime userEnd = m_shiftedEnd.addDays(-1);
    m_shiftedEnd = QDateTime();
    if (!m_filter)
        throw VelError(QStringLiteral("Object variable not set: the server data component returned no filter"),
                       Vel::ErrObjectNotSet);
    m_filter->SetValue(QStringLiteral("EDate"), QVariant(userEnd));
}
