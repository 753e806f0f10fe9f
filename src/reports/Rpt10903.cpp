#include "Reports.h"

#include "ReportLayout.h"
#include "VariantConvert.h"

#include "Dictionary.h"

Rpt10903::Rpt10903(QObject *parent) : ReportFrame(10903, parent) {}

bool Rpt10903::AppendColumns()
{
    AddColumns({
        {"会员编码$", "", "1", "FMemCardID"},
        {"会员姓名$", "", "1", "FMemName"},
        {"日期$", "", "1", "FOperDate"},
        {"销售单号$", "", "1", "FID"},
        {"商品编码$", "", "1", "FNumber"},
        {"商品名称$", "", "1", "FName"},
        {"规格型号$", "", "1", "FModel"},
        {"条形码$", "", "1", "FBrNo", false},
        {"辅助属性$", "", "1", "FAuxiName"},
        {"单位$", "", "1", "FUnitName"},
        {"数量$", "", "2", "FQty"},
        {"销售价$", "", "4", "FSalePrice"},
        {"销售金额$", "", "6", "FSaleAmount"},
        {"原价$", "", "4", "FPrice"},
        {"原价金额$", "", "6", "FAmount"},
        {"折让金额$", "", "6", "FDiscountAmount"},
        {"销售方式$", "", "1", "FSaleWay"},
        {"让利类型$", "", "1", "FDiscountType"},
        {"收银员名称$", "", "1", "FCashier"},
        {"POS机编码$", "", "1", "FPos", false},
    });
    return true;
}

void Rpt10903::WriteProperties(Dictionary &property) const
{
    WriteEntries(property, {
        {"Name", GetMsgText(CatalogName())},
        {"RptProperty", VariantConvert::Short(6)},
        {"FrozenColumn", VariantConvert::Short(0)},
        {"DetailRptID", VariantConvert::Short(10903)},
        {"LongTime", true},
        {"HasDefaultFilterOption", true},
        {"EnableSort", true},
    });
}
