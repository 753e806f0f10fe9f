#include "Reports.h"

#include "FilterRules.h"
#include "VariantConvert.h"

#include "Dictionary.h"
#include "Vector.h"
#include "VelError.h"

Rpt10906::Rpt10906(QObject *parent) : ReportFrame(10906, parent) {}

bool Rpt10906::AppendColumns()
{
    AddColumns({
        {"商品编码$", "", "1", "FNumber"},
        {"条形码$", "", "1", "FBarCode"},
        {"商品名称$", "", "1", "FName"},
        {"规格型号$", "", "1", "FModel"},
        {"单位$", "", "1", "FUnitName"},
        {"零售价$", "", "4", "FSalePrice"},
        {"会员价$", "", "4", "FVipPrice"},
        {"助记码$", "", "1", "FHelpCode"},
        {"换算率$", "", "1", "FCoefficient"},
    });
    return true;
}

void Rpt10906::WriteProperties(Dictionary &property) const
{
    WriteCommonProperties(property, CatalogName(), 6, true);
}

void Rpt10906::AppendTitleLines(VectorPtr &title)
{
    if (!m_filter)
        throw VelError(QStringLiteral("Object variable not set: the report has no filter"), Vel::ErrObjectNotSet);
    const QString barCode = FilterRules::TrimSpaces(VariantConvert::ToText(m_filter->GetValue(QStringLiteral("BarCode"), QString())));
    if (barCode.isEmpty())
        return;
    DictionaryPtr line = Dictionary::Create();
    line->SetValue(QStringLiteral("FCaption"), QStringLiteral("条形码[") + barCode + QStringLiteral("]"));
    line->SetValue(QStringLiteral("FIndex"), QVariant(title->Count()));
    title->Add(line);
}
