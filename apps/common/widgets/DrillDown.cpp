#include "DrillDown.h"

#include "Dictionary.h"
#include "Recordset.h"
#include "TabTitle.h"

#include <QDate>
#include <QDateTime>

namespace DrillDown {

namespace {

QString text(const Recordset &rs, qint64 row, const QString &field)
{
    const int f = rs.FieldIndex(field);
    return f < 0 || rs.IsNull(row, f) ? QString() : rs.TextAt(row, f).trimmed();
}

bool isCard(const QString &card)
{
    return !card.isEmpty() && card != QLatin1String("小计") && card != QLatin1String("合计");
}

Target linesOfCard(const QString &card, QDate from, QDate to)
{
    auto filter = Dictionary::Create();
    filter->SetValue(QStringLiteral("BDate"), from.toString(QStringLiteral("yyyy-MM-dd 00:00:00")));
    filter->SetValue(QStringLiteral("EDate"), to.toString(QStringLiteral("yyyy-MM-dd 23:59:59")));
    filter->SetValue(QStringLiteral("BVipNum"), card);
    filter->SetValue(QStringLiteral("EVipNum"), card);
    return {10903, filter, QStringLiteral("会员卡 %1").arg(card)};
}

Target ledgerOfCard(const QString &card, QDate month)
{
    auto filter = Dictionary::Create();
    filter->SetValue(QStringLiteral("Year"), qint32(month.year()));
    filter->SetValue(QStringLiteral("Month"), double(month.month()));
    filter->SetValue(QStringLiteral("BVipNum"), card);
    filter->SetValue(QStringLiteral("EVipNum"), card);
    filter->SetValue(QStringLiteral("ShowSumOnly"), QVariant::fromValue<qint16>(0));
    filter->SetValue(QStringLiteral("ShowVipDo"), QVariant::fromValue<qint16>(0));
    return {10901, filter, QStringLiteral("会员卡 %1").arg(card)};
}

} // namespace

std::optional<Target> ForRow(const ReportOutput &report, qint64 sourceRow)
{
    if (!report.rs || !report.filter || sourceRow < 0 || sourceRow >= report.rs->RecordCount())
        return std::nullopt;
    const Recordset &rs = *report.rs;
    const qint32 rptId = report.filter->Value(QStringLiteral("RptID")).toInt();
    switch (rptId) {
    case 10902: {
        const bool byCard = report.filter->Value(QStringLiteral("GroupBy")).toInt() == 0;
        const QString card = text(rs, sourceRow, byCard ? QStringLiteral("FNo") : QStringLiteral("FVipNo"));
        const QDate from = TabTitle::DateOf(report.filter->Value(QStringLiteral("BDate")));
        const QDate to = TabTitle::DateOf(report.filter->Value(QStringLiteral("EDate")));
        if (!isCard(card) || !from.isValid() || !to.isValid())
            return std::nullopt;
        return linesOfCard(card, from, to);
    }
    case 10901: {
        const QString card = text(rs, sourceRow, QStringLiteral("FCardId"));
        const QDate month(report.filter->Value(QStringLiteral("Year")).toInt(),
                          report.filter->Value(QStringLiteral("Month")).toInt(), 1);
        if (!isCard(card) || !month.isValid())
            return std::nullopt;
        return linesOfCard(card, month, month.addMonths(1).addDays(-1));
    }
    case 10904:
    case 10905: {
        const QString card = text(rs, sourceRow, QStringLiteral("FCardID"));
        const QDate day = TabTitle::DateOf(text(rs, sourceRow, QStringLiteral("FOperDate")));
        if (!isCard(card) || !day.isValid())
            return std::nullopt;
        return ledgerOfCard(card, QDate(day.year(), day.month(), 1));
    }
    default:
        return std::nullopt;
    }
}

} // namespace DrillDown
