#pragma once

#include "../plugin/Entries.h"
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
    return MakeDictionary({{"FColCaption", caption}, {"FHeadSecond", second}, {"FColType", type}, {"FColName", field},
                           {"FVisible", QVariant::fromValue<qint16>(visible ? 1 : 0)}, {"FWidth", 0.0}, {"FShowTime", false}});
}

inline DictionaryPtr TitleLine(const QString &caption, qint16 index)
{
    return MakeDictionary({{"FCaption", caption}, {"FIndex", QVariant::fromValue(index)}});
}

inline ReportOutput SmallLedger()
{
    ReportOutput r;
    const auto options = MakeDictionary({{"ShowDateDiff", "BDate,2024-05-01 00:00:00|EDate,2024-05-31 23:59:59"}});
    r.result = MakeDictionary({{"OK", true}, {"Error", QString()}, {"RptTitleObject", Vel::ToVariant(options)}});
    r.property = MakeDictionary({{"Name", "储值积分变动表"}, {"FrozenColumn", QVariant::fromValue<qint16>(2)},
                                 {"HasDefaultFilterOption", true}});
    r.filter = MakeDictionary({{"Year", 2024}, {"VipName", ""}, {"RptID", 10901}});

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
    using T = Recordset::FieldType;
    const QList<QPair<QString, T>> fields{{"FDate", T::DateTime}, {"FCardId", T::Text}, {"FVipName", T::Text},
                                          {"FCardAmount", T::Double}, {"FVipNum", T::Double}, {"FQty", T::Double},
                                          {"FPrice", T::Double}, {"FNote", T::Text}, {"FMobile", T::Text},
                                          {"FRowKind", T::Integer}};
    for (const auto &[name, type] : fields)
        rs->AddField(name, type);
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
