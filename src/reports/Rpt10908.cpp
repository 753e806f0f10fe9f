#include "Reports.h"

Rpt10908::Rpt10908(QObject *parent) : ReportFrame(10908, parent) {}

bool Rpt10908::AppendColumns()
{
    AddColumns({
        {"分店编码$", "", "1", "FBranchNo"}, {"分店名称$", "", "1", "FBranchName"}, {"卡类别$", "", "1", "FTypeName"},
        {"期初余额+|", "余额", "6", "FOpen"}, {"", "其中实收", "6", "FOpenPaid"},
        {"充值+|+|+|", "实收", "6", "FTopupPaid"}, {"", "赠送", "6", "FTopupBonus"},
        {"", "新卡", "6", "FNewCard"}, {"", "续充", "6", "FRecharge"},
        {"储值消费+|", "实收部分", "6", "FSpendPaid"}, {"", "赠送部分", "6", "FSpendBonus"},
        {"退货退回$", "", "6", "FRefund"}, {"退卡退款$", "", "6", "FCashOut"}, {"储值调整$", "", "6", "FAdjust"},
        {"注销$", "", "6", "FWriteOff"},
        {"期末余额+|", "余额", "6", "FClose"}, {"", "其中实收", "6", "FClosePaid"},
        {"核对差额$", "", "6", "FDiff"}, {"期初余额确认收入$", "", "6", "FRevenueOpen"},
        {"积分+|+|+|+|+|", "期初", "6", "FPointsOpen"}, {"", "累计", "6", "FPointsEarned"},
        {"", "调整", "6", "FPointsAdjust"}, {"", "礼品兑换", "6", "FPointsGift"},
        {"", "过期", "6", "FPointsExpired"}, {"", "期末", "6", "FPointsClose"},
    });
    return true;
}

void Rpt10908::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 3, false);
}
