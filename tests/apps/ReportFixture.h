#pragma once

#include "Dictionary.h"
#include "Recordset.h"
#include "ReportOutput.h"
#include "Vector.h"

#include <QDateTime>

// A small hand-built report: a stored-value ledger with a two-column group, a hidden
// column, a subtotal and a total row.
namespace Fixture {

inline DictionaryPtr Column(const QString &caption, const QString &second, const QString &type,
                            const QString &field, bool visible = true)
{
    auto d = Dictionary::Create();
    d->SetValue("FColCaption", caption);
    d->SetValue("FHeadSecond", second);
    d->SetValue("FColType", type);
    d->SetValue("FColName", field);
    d->SetValue("FVisible", QVariant::fromValue<qint16>(visible ? 1 : 0));
    d->SetValue("FWidth", 0.0);
    d->SetValue("FShowTime", false);
    return d;
}

inline DictionaryPtr TitleLine(const QString &caption, qint16 index)
{
    auto d = Dictionary::Create();
    d->SetValue("FCaption", caption);
    d->SetValue("FIndex", QVariant::fromValue(index));
    return d;
}

inline ReportOutput SmallLedger()
{
    ReportOutput r;
    r.result = Dictionary::Create();
    r.result->SetValue("OK", true);
    r.result->SetValue("Error", QString());
    auto options = Dictionary::Create();
    options->SetValue("ShowDateDiff", "BDate,2024-05-01 00:00:00|EDate,2024-05-31 23:59:59");
    r.result->SetValue("RptTitleObject", options);

    r.property = Dictionary::Create();
    r.property->SetValue("Name", "储值积分变动表");
    r.property->SetValue("FrozenColumn", QVariant::fromValue<qint16>(2));
    r.property->SetValue("HasDefaultFilterOption", true);

    r.filter = Dictionary::Create();
    r.filter->SetValue("Year", 2024);
    r.filter->SetValue("VipName", "");
    r.filter->SetValue("RptID", 10901);

    r.title = Vector::Create();
    r.title->Add(TitleLine("部门代码[全部]", 1));
    r.title->Add(TitleLine("商品代码从[A01]到[]", 0));

    r.header = Vector::Create();
    r.header->Add(Column("日期$", "", "0", "FDate"));
    r.header->Add(Column("会员卡号$", "", "1", "FCardId"));
    r.header->Add(Column("会员姓名$", "", "1", "FVipName"));
    r.header->Add(Column("期初+|", "储值卡金额", "6", "FCardAmount"));
    r.header->Add(Column("", "积分数额", "6", "FVipNum"));
    r.header->Add(Column("数量$", "", "2", "FQty"));
    r.header->Add(Column("单价$", "", "4", "FPrice"));
    r.header->Add(Column("备注$", "", "1", "FNote"));
    r.header->Add(Column("会员手机号$", "", "1", "FMobile", false));

    auto rs = Recordset::Create();
    rs->AddField("FDate", Recordset::FieldType::DateTime);
    rs->AddField("FCardId", Recordset::FieldType::Text);
    rs->AddField("FVipName", Recordset::FieldType::Text);
    rs->AddField("FCardAmount", Recordset::FieldType::Double);
    rs->AddField("FVipNum", Recordset::FieldType::Double);
    rs->AddField("FQty", Recordset::FieldType::Double);
    rs->AddField("FPrice", Recordset::FieldType::Double);
    rs->AddField("FNote", Recordset::FieldType::Text);
    rs->AddField("FMobile", Recordset::FieldType::Text);
    rs->AddField("FRowKind", Recordset::FieldType::Integer);
    rs->Open();
    auto add = [&rs](const QVariantList &values) {
        const qint64 row = rs->AddRow();
        for (int f = 0; f < values.size(); ++f)
            rs->SetValue(row, f, values.at(f));
    };
    add({QDateTime(QDate(2024, 5, 1), QTime(0, 0)), "V0001", "张三", 1234.5, 10.0, 1.5, 12.0, "首充, \"VIP\"", "13800000000", 0});
    add({QDateTime(QDate(2024, 5, 3), QTime(9, 30)), "V0001", "张三", -20.0, 0.0, 2.0, 3.456, QVariant(), "13800000000", 0});
    add({QVariant(), "小计", QVariant(), 1214.5, 10.0, 3.5, QVariant(), QVariant(), QVariant(), 1});
    add({QVariant(), "合计", QVariant(), 1214.5, 10.0, 3.5, QVariant(), QVariant(), QVariant(), 2});
    r.rs = rs;
    return r;
}

} // namespace Fixture
