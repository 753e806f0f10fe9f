#include "Reports.h"

#include "ReportLayout.h"
#include "HostContextReader.h"

Rpt10901::Rpt10901(QObject *parent) : ReportFrame(10901, parent) {}

bool Rpt10901::AppendColumns()
{
    AddColumns({{"日期$", "", "0", "FDate"}});
    if (GetSVCardShareType())
        AddColumns({{"分店$", "", "1", "FBranchName"}});
    AddColumns({
        {"会员卡号$", "", "1", "FCardId"},
        {"会员类别$", "", "1", "FCardType"},
        {"会员姓名$", "", "1", "FVipName"},
        {"变动类型$", "", "1", "DoType"},
        {"单据编号$", "", "1", "FBillNo"},
        {"期初+|", "储值卡金额", "6", "FCardAmount"},
        {"", "积分数额", "6", "FVipNum"},
        {"本期+|+|", "储值充值", "6", "FAdjustCardAmountAdd"},
        {"", "储值消费", "6", "FAdjustCardAmountDec"},
        {"", "积分调整额", "6", "FAdjustVipNum"},
        {"期末+|", "储值卡余额", "6", "FResidualCardAmount"},
        {"", "积分余额", "6", "FResidualVipNum"},
        {"收银/操作员$", "", "1", "FCashierName"},
    });
    return true;
}

void Rpt10901::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 3, false);
}
