#include "DrillDown.h"

#include "Dictionary.h"
#include "Recordset.h"
#include "ReportRules.h"
#include "TabTitle.h"

#include <QDate>
#include <QDateTime>

namespace DrillDown {

namespace {

const QString kSubtotal = QStringLiteral("小计");
const QString kTotal = QStringLiteral("合计");

QString text(const Recordset &rs, qint64 row, const QString &field)
{
    const int f = rs.FieldIndex(field);
    return f < 0 || rs.IsNull(row, f) ? QString() : rs.TextAt(row, f).trimmed();
}

bool isCard(const QString &card)
{
    return !card.isEmpty() && card != kSubtotal && card != kTotal;
}

void setRange(Dictionary &filter, const QString &begin, const QString &end, const QString &value)
{
    filter.SetValue(begin, value);
    filter.SetValue(end, value);
}

Target linesOf(const QString &card, QDate from, QDate to)
{
    auto filter = Dictionary::Create();
    filter->SetValue(QStringLiteral("BDate"), from.toString(QStringLiteral("yyyy-MM-dd 00:00:00")));
    filter->SetValue(QStringLiteral("EDate"), to.toString(QStringLiteral("yyyy-MM-dd 23:59:59")));
    setRange(*filter, QStringLiteral("BVipNum"), QStringLiteral("EVipNum"), card);
    return {10903, filter, card.isEmpty() ? QString() : QStringLiteral("会员卡 %1").arg(card), {}, {}};
}

Target ledgerOfCard(const QString &card, QDate month)
{
    auto filter = Dictionary::Create();
    filter->SetValue(QStringLiteral("Year"), qint32(month.year()));
    filter->SetValue(QStringLiteral("Month"), double(month.month()));
    setRange(*filter, QStringLiteral("BVipNum"), QStringLiteral("EVipNum"), card);
    filter->SetValue(QStringLiteral("ShowSumOnly"), QVariant::fromValue<qint16>(0));
    filter->SetValue(QStringLiteral("ShowVipDo"), QVariant::fromValue<qint16>(0));
    return {10901, filter, QStringLiteral("会员卡 %1").arg(card), {}, {}};
}

std::optional<Target> fromSales(const ReportOutput &report, const Recordset &rs, qint64 row)
{
    const Dictionary &source = *report.filter;
    const int groupBy = source.Value(QStringLiteral("GroupBy")).toInt();
    const QString key = text(rs, row, QStringLiteral("FNo"));
    const QString vipNo = text(rs, row, QStringLiteral("FVipNo"));
    const QDate from = TabTitle::DateOf(source.Value(QStringLiteral("BDate")));
    const QDate to = TabTitle::DateOf(source.Value(QStringLiteral("EDate")));
    if (key == kTotal || !from.isValid() || !to.isValid())
        return std::nullopt;

    const bool subtotal = groupBy != 0 && vipNo == kSubtotal;
    if (subtotal && (groupBy == 2 || groupBy == 3)) {
        const QString what = groupBy == 2 ? QStringLiteral("卡类别") : QStringLiteral("业务员");
        return Target{0, nullptr, {}, {},
                      QStringLiteral("会员消费明细表不能按%1过滤，请双击该%1下的会员行").arg(what)};
    }
    const QString card = groupBy == 0 ? key : subtotal ? QString() : vipNo;
    if (!subtotal && !isCard(card))
        return std::nullopt;
    Target target = linesOf(card, from, to);
    // The row's sums are per branch of sale where it names one; else the source's branch range holds.
    target.branchName = groupBy == 1 ? key : text(rs, row, QStringLiteral("FBranchName"));
    if (target.branchName.isEmpty()) {
        for (const char *k : {"BBranchNum", "EBranchNum"}) {
            const QString v = source.Value(QLatin1String(k)).toString().trimmed();
            if (!v.isEmpty())
                target.filter->SetValue(QLatin1String(k), v);
        }
    } else {
        target.label = (target.label + QStringLiteral(" 分店 ") + target.branchName).trimmed();
    }
    return target;
}

} // namespace

std::optional<Target> ForRow(const ReportOutput &report, qint64 sourceRow)
{
    if (!report.rs || !report.filter || sourceRow < 0 || sourceRow >= report.rs->RecordCount())
        return std::nullopt;
    const Recordset &rs = *report.rs;
    const ReportRules::Rule &rule = ReportRules::Of(report.filter->Value(QStringLiteral("RptID")).toInt());
    switch (rule.drill) {
    case ReportRules::Drill::SalesToLines:
        return fromSales(report, rs, sourceRow);
    case ReportRules::Drill::CardToMonthLines: {
        const QString card = text(rs, sourceRow, rule.card);
        const QDate month(report.filter->Value(QStringLiteral("Year")).toInt(),
                          report.filter->Value(QStringLiteral("Month")).toInt(), 1);
        if (!isCard(card) || !month.isValid())
            return std::nullopt;
        return linesOf(card, month, month.addMonths(1).addDays(-1));
    }
    case ReportRules::Drill::CardToLedger: {
        const QString card = text(rs, sourceRow, rule.card);
        const QDate day = TabTitle::DateOf(text(rs, sourceRow, rule.day));
        if (!isCard(card) || !day.isValid())
            return std::nullopt;
        return ledgerOfCard(card, QDate(day.year(), day.month(), 1));
    }
    case ReportRules::Drill::BranchToLedger: {
        const QString branch = text(rs, sourceRow, rule.key);
        const QDate month(report.filter->Value(QStringLiteral("Year")).toInt(),
                          report.filter->Value(QStringLiteral("Month")).toInt(), 1);
        if (!isCard(branch) || !month.isValid())
            return std::nullopt;
        Target target = ledgerOfCard(QString(), month);
        target.filter->SetValue(QStringLiteral("ShowVipDo"), QVariant::fromValue<qint16>(1));
        SetBranch(target, branch);
        target.label = QStringLiteral("分店 %1").arg(branch);
        return target;
    }
    case ReportRules::Drill::None:
        break;
    }
    return std::nullopt;
}

void SetBranch(Target &target, const QString &branchNumber)
{
    if (target.filter)
        setRange(*target.filter, QStringLiteral("BBranchNum"), QStringLiteral("EBranchNum"), branchNumber);
}

QString Hint(const std::optional<Target> &target)
{
    if (!target)
        return {};
    if (target->rptId == 0)
        return target->note;
    return QStringLiteral("双击打开明细：%1").arg(target->label);
}

} // namespace DrillDown
