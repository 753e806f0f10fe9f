#include "ReportKeys.h"

#include <QHash>

namespace ReportKeys {

namespace {

using K = Kind;

Key text(const char *name, const char *meaning, const char *example = "")
{
    return {QString::fromLatin1(name), K::Text, QString::fromUtf8(meaning), false, QString::fromUtf8(example), {}};
}

Key date(const char *name, bool required, const char *example)
{
    const bool begin = name[0] == 'B';
    Key k{QString::fromLatin1(name), K::DateTime,
          begin ? QStringLiteral("起始日期时间（含）；只写日期时取当天 00:00:00")
                : QStringLiteral("截止日期时间（含）；只写日期时取当天 23:59:59"),
          required, QString::fromLatin1(example), {}};
    return k;
}

Key choices(const char *name, Kind kind, const char *meaning, bool required, QList<Choice> values)
{
    Key k{QString::fromLatin1(name), kind, QString::fromUtf8(meaning), required,
          QString::number(values.first().value), std::move(values)};
    return k;
}

Key sumSwitch(const char *name)
{
    return choices(name, K::Int16, "只显示小计与合计行", false,
                   {{0, QStringLiteral("全部行"), {}}, {1, QStringLiteral("仅显示汇总行"), {}}});
}

// Code ranges: both ends, compared as text, an empty side no limit.
QList<Key> range(const char *begin, const char *end, const char *what, const char *example)
{
    return {text(begin, (QByteArray(what) + "起（按文本比较，空为不限）").constData(), example),
            text(end, (QByteArray(what) + "止（空为不限）").constData(), example)};
}

QHash<qint32, QList<Key>> buildTable()
{
    QHash<qint32, QList<Key>> t;
    const QString branchOnlyAtHeadOffice = QStringLiteral("对话框仅在总部且储值卡共享时提供");
    const QString notInDialog = QStringLiteral("报表支持，对话框不提供");

    Key year{QStringLiteral("Year"), K::Int32, QStringLiteral("年份"), true, QStringLiteral("2024"), {}, 1900, 9999};
    Key showVipDo = choices("ShowVipDo", K::Int16, "本月无变动的卡", false,
                            {{0, QStringLiteral("也显示（不给时）"), {}}, {1, QStringLiteral("不显示（对话框默认）"), {}}});
    showVipDo.example = QStringLiteral("1");
    Key month{QStringLiteral("Month"), K::Number, QStringLiteral("月份"), true, QStringLiteral("5"), {}, 1, 12};
    t[10901] = QList<Key>{year, month}
        + range("BBranchNum", "EBranchNum", "变动分店编码", "001")
        + range("BVipNum", "EVipNum", "会员卡号", "80000001")
        + range("BVipTypeNum", "EVipTypeNum", "卡类别编码", "01")
        + QList<Key>{text("VipName", "会员姓名（包含，不分大小写与全半角）", "张"),
                     sumSwitch("ShowSumOnly"),
                     showVipDo};

    t[10902] = QList<Key>{date("BDate", true, "2024-05-01 00:00:00"), date("EDate", true, "2024-05-31 23:59:59")}
        + range("BVipNum", "EVipNum", "会员卡号", "80000001")
        + QList<Key>{text("VipName", "会员姓名（包含，不分大小写与全半角）", "张")}
        + range("BBranchNum", "EBranchNum", "消费分店编码", "001")
        + QList<Key>{choices("GroupBy", K::Int32, "汇总依据", true,
                             {{0, QStringLiteral("会员卡号"), {}},
                              {1, QStringLiteral("消费分店"), branchOnlyAtHeadOffice},
                              {2, QStringLiteral("卡类别"), {}},
                              {3, QStringLiteral("业务员"), {}}}),
                     sumSwitch("SumOnly")};

    t[10903] = QList<Key>{date("BDate", false, "2024-05-01 00:00:00"), date("EDate", false, "2024-05-31 23:59:59")}
        + range("BVipNum", "EVipNum", "会员卡号", "80000001")
        + range("BItemNum", "EItemNum", "商品编码", "100001")
        + range("Bcustnum", "Ecustnum", "客户编码", "C001")
        + QList<Key>{text("Cashier", "收银员编码（相等）", "E0001"), text("Pos", "POS 机编码（相等）", "P0101"),
                     text("Brand", "品牌编码（相等）", "B01"), text("Billnumber", "收银单号（包含）", "20240501")}
        + range("BBranchNum", "EBranchNum", "分店编码", "001");

    const QList<Key> journalHead
        = QList<Key>{date("BDate", false, "2024-05-01 00:00:00"), date("EDate", false, "2024-05-31 23:59:59")}
        + range("BCardID", "ECardID", "会员卡号", "80000001");
    const QList<Key> journalTail = range("BTypeID", "ETypeID", "卡类别编码", "01")
        + range("BStockNo", "EStockNo", "分店（仓库）编码", "001");
    t[10904] = journalHead + range("BItemNum", "EItemNum", "商品编码", "100001") + journalTail
        + QList<Key>{choices("GroupBy", K::Int32, "汇总依据", true,
                             {{0, QStringLiteral("商品"), {}}, {1, QStringLiteral("会员"), {}},
                              {2, QStringLiteral("分店"), notInDialog}}),
                     sumSwitch("SumOnly")};
    t[10905] = journalHead + journalTail
        + QList<Key>{choices("GroupBy", K::Int32, "汇总依据", true,
                             {{0, QStringLiteral("会员"), {}}, {1, QStringLiteral("分店"), notInDialog}}),
                     sumSwitch("SumOnly")};

    t[10908] = QList<Key>{year, month}
        + range("BBranchNum", "EBranchNum", "变动分店编码", "001")
        + range("BVipTypeNum", "EVipTypeNum", "卡类别编码", "01");

    const QList<Key> issuing = range("BBranchNum", "EBranchNum", "发卡分店编码", "001");
    const QList<Key> types = range("BVipTypeNum", "EVipTypeNum", "卡类别编码", "01");
    Key minBalance{QStringLiteral("MinBalance"), K::Number, QStringLiteral("余额超过（元；ShowCards 为 1 时用，不给时 5000）"),
                   false, QStringLiteral("5000"), {}, 0, 100000000};
    t[10909] = QList<Key>{date("EDate", true, "2024-06-30 23:59:59")} + issuing + types
        + QList<Key>{choices("ShowCards", K::Int16, "显示内容", false,
                             {{0, QStringLiteral("按账龄汇总"), {}}, {1, QStringLiteral("余额超过限额的卡"), {}}}),
                     minBalance};
    t[10909][0].meaning = QStringLiteral("截止日期时间（含）；只写日期时取当天 23:59:59");
    t[10910] = QList<Key>{date("BDate", true, "2024-06-01 00:00:00"), date("EDate", true, "2024-06-30 23:59:59")} + issuing
        + range("BSpendNum", "ESpendNum", "消费分店编码", "002");
    Key quarter{QStringLiteral("Quarter"), K::Int32, QStringLiteral("季度"), true, QStringLiteral("2"), {}, 1, 4};
    Key cap{QStringLiteral("RevenueCap"), K::Int32, QStringLiteral("收入上限（余额占上年销售收入的 %，不给时 40）"), false,
            QStringLiteral("40"), {}, 1, 100};
    t[10911] = QList<Key>{year, quarter} + issuing
        + QList<Key>{choices("CustodyRatio", K::Int32, "存管比例", false,
                             {{40, QStringLiteral("40%"), QStringLiteral("不给时")}, {30, QStringLiteral("30%"), {}}, {20, QStringLiteral("20%"), {}}}),
                     cap};

    t[10906] = range("BItemNumber", "EItemNumber", "商品编码", "100001")
        + QList<Key>{text("BarCode", "条形码（商品的任一条码与之相等）", "6910000007919")};
    return t;
}

const QHash<qint32, QList<Key>> &table()
{
    static const QHash<qint32, QList<Key>> t = buildTable();
    return t;
}

} // namespace

bool Key::Accepts(qint32 value) const
{
    if (choices.isEmpty())
        return value >= min && value <= max;
    for (const Choice &c : choices)
        if (c.value == value)
            return true;
    return false;
}

QString Key::ValuesText() const
{
    if (choices.isEmpty())
        return QStringLiteral("%1 到 %2").arg(min).arg(max);
    QStringList parts;
    for (const Choice &c : choices)
        parts << (c.note.isEmpty() ? QStringLiteral("%1 %2").arg(c.value).arg(c.meaning)
                                   : QStringLiteral("%1 %2（%3）").arg(c.value).arg(c.meaning, c.note));
    return parts.join(QStringLiteral("、"));
}

const QList<Key> &KeysOf(qint32 rptId)
{
    static const QList<Key> none;
    const auto it = table().constFind(rptId);
    return it == table().constEnd() ? none : *it;
}

const QList<Key> &TitleOnlyKeys()
{
    static const QList<Key> keys = [] {
        const std::pair<const char *, const char *> ranges[] = {
            {"TypeIn", "收入类别"}, {"ItemNumber", "商品代码"}, {"CustNumber", "客户代码"},
            {"DeptNumber", "部门代码"}, {"EmpNumber", "业务员代码"}, {"StockNumber", "仓库代码"},
            {"SupplyNumber", "供应商代码"}, {"AuxPropNumber", "辅助属性"}, {"BatchNo", "批号"},
            {"BillNumber", "订单编号"}};
        QList<Key> all;
        for (const auto &[name, caption] : ranges)
            all += range((QByteArray("B") + name).constData(), (QByteArray("E") + name).constData(), caption, "");
        all << text("SumBy", "汇总依据（标题中“_”或“|”之前的部分）");
        for (Key &k : all) {
            k.meaning += QStringLiteral("，仅用于标题");
            k.titleOnly = true;
        }
        return all;
    }();
    return keys;
}

const Key *Find(qint32 rptId, const QString &name)
{
    if (!table().contains(rptId))
        return nullptr;
    for (const QList<Key> *keys : {&KeysOf(rptId), &TitleOnlyKeys()})
        for (const Key &k : *keys)
            if (k.name == name)
                return &k;
    return nullptr;
}

QString RangeEnd(qint32 rptId, const QString &name)
{
    if (!name.startsWith(u'B'))
        return {};
    const QString end = u'E' + name.mid(1);
    return Find(rptId, end) ? end : QString();
}

bool HasPeriod(qint32 rptId)
{
    return Find(rptId, QStringLiteral("Month")) || Find(rptId, QStringLiteral("Quarter")) || Find(rptId, QStringLiteral("EDate"));
}

QString KindText(Kind kind)
{
    switch (kind) {
    case Kind::Text: return QStringLiteral("文本");
    case Kind::DateTime: return QStringLiteral("日期时间文本");
    case Kind::Int32: return QStringLiteral("32 位整数");
    case Kind::Int16: return QStringLiteral("16 位整数");
    case Kind::Number: return QStringLiteral("数值");
    }
    return {};
}

QString Description(const Key &key)
{
    return key.IsWholeNumber() ? key.meaning + QStringLiteral("：") + key.ValuesText() : key.meaning;
}

QString Markdown(qint32 rptId)
{
    QStringList lines{QStringLiteral("| 项 | 类型 | 必填 | 含义与取值 | 示例 |"), QStringLiteral("|---|---|---|---|---|")};
    for (const Key &k : KeysOf(rptId)) {
        QString meaning = Description(k);
        lines << QStringLiteral("| `%1` | %2 | %3 | %4 | %5 |")
                     .arg(k.name, KindText(k.kind), k.required ? QStringLiteral("是") : QStringLiteral("否"),
                          meaning.replace(u'|', QStringLiteral("\\|")),
                          k.example.isEmpty() ? QString() : QStringLiteral("`%1`").arg(k.example));
    }
    return lines.join(u'\n');
}

} // namespace ReportKeys
