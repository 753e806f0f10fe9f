#include "Reports.h"

Rpt10905::Rpt10905(QObject *parent) : ReportFrame(10905, parent) {}

bool Rpt10905::AppendColumns()
{
    const QString groupBy = GroupByText();
    if (groupBy == QLatin1String("0")) {
        AddColumns({
            {"会员卡号$", "", "1", "FCardID"}, {"会员姓名$", "", "1", "FVipName"}, {"卡类别$", "", "1", "FTypeName"},
            {"充值金额$", "", "6", "FPlusAmt"}, {"实付金额$", "", "6", "FPlusRealAmt"}, {"日期$", "", "1", "FOperDate"},
            {"操作员/收银员$", "", "1", "FOperman"}, {"备注$", "", "1", "FNote"},
        });
    } else if (groupBy == QLatin1String("1")) {
        AddColumns({
            {"分店编码$", "", "1", "FStockNo"}, {"分店名称$", "", "1", "FStockName"}, {"会员卡号$", "", "1", "FCardID"},
            {"会员姓名$", "", "1", "FVipName"}, {"卡类别$", "", "1", "FTypeName"}, {"充值金额$", "", "6", "FPlusAmt"},
            {"实付金额$", "", "6", "FPlusRealAmt"}, {"日期$", "", "1", "FOperDate"},
            {"操作员/收银员$", "", "1", "FOperman"},
        });
    } else {
        return false;
    }
    return true;
}

void Rpt10905::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 6, true);
}
