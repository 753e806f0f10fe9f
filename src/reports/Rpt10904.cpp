#include "Reports.h"

Rpt10904::Rpt10904(QObject *parent) : ReportFrame(10904, parent) {}

bool Rpt10904::AppendColumns()
{
    const QString groupBy = GroupByText();
    if (groupBy == QLatin1String("0")) {
        AddColumns({
            {"商品编码$", "", "1", "FNumber"}, {"商品名称$", "", "1", "FName"}, {"规格型号$", "", "1", "FModel"},
            {"辅助属性$", "", "1", "FAuxiName"}, {"单位$", "", "1", "FUnitName"}, {"兑换数量$", "", "2", "FQty"},
            {"使用积分$", "", "2", "FVipNum"}, {"兑换日期$", "", "1", "FOperDate"}, {"会员卡号$", "", "1", "FCardID"},
            {"会员姓名$", "", "1", "FVipName"}, {"卡类别$", "", "1", "FTypeName"}, {"仓库编码$", "", "1", "FStockNo"},
            {"仓库名称$", "", "1", "FStockName"},
        });
    } else if (groupBy == QLatin1String("1")) {
        AddColumns({
            {"会员卡号$", "", "1", "FCardID"}, {"会员姓名$", "", "1", "FVipName"}, {"商品编码$", "", "1", "FNumber"},
            {"商品名称$", "", "1", "FName"}, {"规格型号$", "", "1", "FModel"}, {"辅助属性$", "", "1", "FAuxiName"},
            {"单位$", "", "1", "FUnitName"}, {"兑换数量$", "", "2", "FQty"}, {"使用积分$", "", "2", "FVipNum"},
            {"兑换日期$", "", "1", "FOperDate"}, {"卡类别$", "", "1", "FTypeName"}, {"仓库编码$", "", "1", "FStockNo"},
            {"仓库名称$", "", "1", "FStockName"},
        });
    } else if (groupBy == QLatin1String("2")) {
        AddColumns({
            {"分店编码$", "", "1", "FStockNo"}, {"分店名称$", "", "1", "FStockName"}, {"商品编码$", "", "1", "FNumber"},
            {"商品名称$", "", "1", "FName"}, {"规格型号$", "", "1", "FModel"}, {"辅助属性$", "", "1", "FAuxiName"},
            {"单位$", "", "1", "FUnitName"}, {"兑换数量$", "", "2", "FQty"}, {"使用积分$", "", "2", "FVipNum"},
            {"兑换日期$", "", "1", "FOperDate"}, {"会员卡号$", "", "1", "FCardID"}, {"会员姓名$", "", "1", "FVipName"},
            {"卡类别$", "", "1", "FTypeName"},
        });
    } else {
        return false;
    }
    return true;
}

void Rpt10904::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 6, true);
}
