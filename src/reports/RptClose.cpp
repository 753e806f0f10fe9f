#include "Reports.h"

#include "VariantConvert.h"

Rpt10909::Rpt10909(QObject *parent) : ReportFrame(10909, parent) {}

bool Rpt10909::AppendColumns()
{
    if (VariantConvert::ToInt32(FilterValue(QStringLiteral("ShowCards"))) == 1) {
        AddColumns({
            {"会员卡号$", "", "1", "FCardNo"}, {"会员姓名$", "", "1", "FVipName"}, {"发卡分店编码$", "", "1", "FBranchNo"},
            {"发卡分店$", "", "1", "FBranchName"}, {"卡类别$", "", "1", "FTypeName"},
            {"储值余额+|+|", "余额", "6", "FBalance"}, {"", "其中实收", "6", "FPaid"}, {"", "其中赠送", "6", "FBonus"},
            {"最后储值变动日期$", "", "0", "FLastDate"}, {"账龄$", "", "1", "FAgeBand"},
        });
        return true;
    }
    AddColumns({{"发卡分店编码$", "", "1", "FBranchNo"}, {"发卡分店$", "", "1", "FBranchName"}, {"卡类别$", "", "1", "FTypeName"}});
    static const char *const bands[][5] = {
        {"0-3个月+|+|+|", "FAge1", "FAge1Paid", "FAge1Bonus", "FAge1Cards"},
        {"3-6个月+|+|+|", "FAge2", "FAge2Paid", "FAge2Bonus", "FAge2Cards"},
        {"6-12个月+|+|+|", "FAge3", "FAge3Paid", "FAge3Bonus", "FAge3Cards"},
        {"12-24个月+|+|+|", "FAge4", "FAge4Paid", "FAge4Bonus", "FAge4Cards"},
        {"24个月以上+|+|+|", "FAge5", "FAge5Paid", "FAge5Bonus", "FAge5Cards"},
        {"合计+|+|+|", "FTotal", "FTotalPaid", "FTotalBonus", "FTotalCards"},
    };
    for (const auto &b : bands) {
        AddColumns({{b[0], "余额", "6", b[1]}, {"", "其中实收", "6", b[2]}, {"", "其中赠送", "6", b[3]}, {"", "卡数", "1", b[4]}});
    }
    return true;
}

void Rpt10909::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 3, false);
}

Rpt10910::Rpt10910(QObject *parent) : ReportFrame(10910, parent) {}

bool Rpt10910::AppendColumns()
{
    AddColumns({
        {"发卡分店编码$", "", "1", "FIssueNo"}, {"发卡分店$", "", "1", "FIssueName"},
        {"消费分店编码$", "", "1", "FSpendNo"}, {"消费分店$", "", "1", "FSpendName"},
        {"储值消费+|+|", "金额", "6", "FSpend"}, {"", "实收部分", "6", "FSpendPaid"}, {"", "赠送部分", "6", "FSpendBonus"},
        {"退货退回实收$", "", "6", "FRefundPaid"}, {"实收净额$", "", "6", "FNetPaid"},
        {"发卡分店应付$", "", "6", "FOwed"}, {"对方应付$", "", "6", "FOwedBack"}, {"净应付$", "", "6", "FNet"},
    });
    return true;
}

void Rpt10910::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 3, false);
}

Rpt10911::Rpt10911(QObject *parent) : ReportFrame(10911, parent) {}

bool Rpt10911::AppendColumns()
{
    AddColumns({
        {"发卡分店编码$", "", "1", "FBranchNo"}, {"发卡分店$", "", "1", "FBranchName"},
        {"预收资金余额（实收）+|", "上季末", "6", "FPrevPaid"}, {"", "本季末", "6", "FPaid"},
        {"本季末储值余额$", "", "6", "FValue"},
        {"存管+|", "比例%", "6", "FRatio"}, {"", "应存管资金", "6", "FCustody"},
        {"上年销售收入$", "", "6", "FRevenue"}, {"余额占上年收入%$", "", "6", "FShare"},
        {"上限+|+|", "比例%", "6", "FCap"}, {"", "金额", "6", "FCapAmount"}, {"", "超出", "6", "FOverCap"},
        {"卡数+|", "本季发卡", "1", "FIssued"}, {"", "季末有余额", "1", "FOutstanding"},
    });
    return true;
}

void Rpt10911::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 3, false);
}
