#include "ReportRules.h"

#include <QHash>

namespace ReportRules {

const Rule &Of(qint32 rptId)
{
    static const QHash<qint32, Rule> rules{
        {10901, {Drill::CardToMonthLines, Chart::CardLedger, QStringLiteral("FCardId"), QStringLiteral("FDate"), {}, {},
                 QStringLiteral("FResidualCardAmount"), QStringLiteral("FResidualVipNum"),
                 QStringLiteral("会员卡 %1 %2储值余额与积分余额")}},
        {10902, {Drill::SalesToLines, Chart::Bars, {}, {}, QStringLiteral("FNo"), QStringLiteral("FNo"), QStringLiteral("FpayAmount"), {},
                 QStringLiteral("销售金额（按%1）")}},
        {10904, {Drill::CardToLedger, Chart::Bars, QStringLiteral("FCardID"), QStringLiteral("FOperDate"), QStringLiteral("FNumber"),
                 QStringLiteral("FName"), QStringLiteral("FVipNum"), {}, QStringLiteral("各礼品使用积分")}},
        {10905, {Drill::CardToLedger, Chart::DailyLine, QStringLiteral("FCardID"), QStringLiteral("FOperDate"), {}, {},
                 QStringLiteral("FPlusAmt"), {}, QStringLiteral("每日充值金额")}},
        {10908, {Drill::BranchToLedger, Chart::None, {}, {}, QStringLiteral("FBranchNo")}},
        {10909, {Drill::CardToLedger, Chart::None, QStringLiteral("FCardNo"), QStringLiteral("FLastDate")}},
    };
    static const Rule none;
    const auto it = rules.constFind(rptId);
    return it == rules.cend() ? none : *it;
}

QString LedgerTitle(const Rule &rule, const QString &card, const QDate &first)
{
    const QString month = first.isValid() ? QStringLiteral("%1年%2月").arg(first.year()).arg(first.month()) : QString();
    return QString(rule.title).replace(QLatin1String("%2"), month).replace(QLatin1String("%1"), card.isEmpty() ? QStringLiteral("%1") : card);
}

} // namespace ReportRules
