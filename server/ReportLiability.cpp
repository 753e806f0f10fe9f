// Report 10908: the month's stored-value liability roll-forward per branch and card type, with
// the paid (cash) and bonus parts, and the same for points.
//
// Rows are keyed by the branch where the movements were made (as 10901 with a branch range)
// and the card's type. Opening and closing are sums of the ledger's monthly changes per branch
// and card type (card_balance_sum); the flows are the month's movements with their cash parts
// from card_value_split. The revenue recognised out of the opening balance is, per card and
// branch, the cash part of the month's payments up to the cash part of that pair's opening
// balance (one seek per payment).
#include "ReportQueries.h"

#include "Database.h"
#include "FilterValues.h"
#include "ReportTable.h"
#include "RowCursor.h"
#include "Schema.h"
#include "VelError.h"

#include <QHash>

#include <map>
#include <utility>

namespace {

using Kind = ReportTable::Kind;

// The rows a filter selects: branch of the movements, card type, and the user's branch scope.
// Every statement of the report takes its terms from here.
void addTerms(SqlWhere &where, const FilterValues &values, const BranchScope &scope)
{
    where.Range(QStringLiteral("s.FNumber"), values.Text(QStringLiteral("BBranchNum")), values.Text(QStringLiteral("EBranchNum")));
    where.Range(QStringLiteral("t.FNumber"), values.Text(QStringLiteral("BVipTypeNum")), values.Text(QStringLiteral("EVipTypeNum")));
    where.InScope(QStringLiteral("s.FNumber"), scope);
}

// "+": the card is looked up per movement, never the movements per card (a scan of all cards).
const QString joins = QStringLiteral("JOIN member_card c ON c.FID = +%1.FCardID LEFT JOIN card_type t ON t.FID = c.FTypeID "
                                     "LEFT JOIN branch s ON s.FID = %1.FBranchID");

enum Field {
    fBranchNo, fBranchName, fTypeName, fOpen, fOpenPaid, fTopupPaid, fTopupBonus, fNewCard, fRecharge, fSpendPaid,
    fSpendBonus, fRefund, fCashOut, fAdjust, fWriteOff, fClose, fClosePaid, fDiff, fRevenueOpen, fPointsOpen,
    fPointsEarned, fPointsAdjust, fPointsGift, fPointsExpired, fPointsClose, fCount
};

struct Row
{
    QString branchNo, branchName, typeName;
    qint64 f[fCount] = {};
};

// Per card and branch: the opening cash part and the cash part of the month's payments.
struct Pair { qint64 openCash = 0, paidSpent = 0; std::pair<QString, QString> key; };

} // namespace

namespace ReportQueries {

RecordsetPtr Run10908(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const qint32 year = values.Int(QStringLiteral("Year"), 1900, 9999, std::nullopt);
    const qint32 month = values.Int(QStringLiteral("Month"), 1, 12, std::nullopt);
    Schema::RequireLedger(db);
    const qint32 key = year * 100 + month;
    const QDateTime start(QDate(year, month, 1), QTime(0, 0), Qt::UTC);   // wall clock

    std::map<std::pair<QString, QString>, Row> rows;   // (branch code, type code)
    QHash<QPair<qint64, qint64>, Pair> pairs;
    auto rowOf = [&](const RowCursor &c, int at) -> Row & {
        const std::pair<QString, QString> k{c.Text(at).toString(), c.Text(at + 2).toString()};
        Row &r = rows[k];
        r.branchNo = k.first;
        r.branchName = c.Text(at + 1).toString();
        r.typeName = c.Text(at + 3).toString();
        return r;
    };

    // Opening (before the month) and closing (at its end) per branch and card type: the sums of
    // the months' changes, so the cost follows the months, not the cards that ever moved there.
    {
        SqlWhere where(db.Driver());
        addTerms(where, values, scope);
        // Summed per branch and type (type -1: cards not in member_card), then named for the
        // filter terms; the opening is the closing less the month's own changes.
        auto c = db.Select(QStringLiteral("SELECT s.FNumber, s.FName, t.FNumber, t.FName, a.o1, a.o2, a.o3, a.c1, a.c2, a.c3, a.n "
                                          "FROM (SELECT FBranchID, FTypeID, SUM(FValue) - SUM(CASE WHEN FMonth = ? THEN FValue ELSE 0 END) AS o1, "
                                          "SUM(FCash) - SUM(CASE WHEN FMonth = ? THEN FCash ELSE 0 END) AS o2, "
                                          "SUM(FPoints) - SUM(CASE WHEN FMonth = ? THEN FPoints ELSE 0 END) AS o3, SUM(FValue) AS c1, "
                                          "SUM(FCash) AS c2, SUM(FPoints) AS c3, SUM(FMoves) AS n FROM card_balance_sum "
                                          "WHERE FMonth <= ? AND FTypeID >= 0 GROUP BY FBranchID, FTypeID) a "
                                          "LEFT JOIN card_type t ON t.FID = a.FTypeID LEFT JOIN branch s ON s.FID = a.FBranchID%1")
                               .arg(where.Sql()),
                           QVariantList{key, key, key, key} + where.Params());
        while (c->Next()) {
            if (c->Int(10) <= 0)
                continue;   // nothing at this branch up to the month's end
            Row &r = rowOf(*c, 0);
            r.f[fOpen] += c->Int(4);
            r.f[fOpenPaid] += c->Int(5);
            r.f[fPointsOpen] += c->Int(6);
            r.f[fClose] += c->Int(7);
            r.f[fClosePaid] += c->Int(8);
            r.f[fPointsClose] += c->Int(9);
        }
    }

    // The month's movements with their cash parts; a card's first top-up ever sells the card.
    // Seeks per movement, so that the cost follows the month, not the card's history.
    {
        SqlWhere where(db.Driver());
        where.DateFrom(QStringLiteral("m.FDate"), start);
        where.DateTo(QStringLiteral("m.FDate"), start.addMonths(1), false);
        addTerms(where, values, scope);
        auto c = db.Select(QStringLiteral(
                               "SELECT m.FCardID, m.FBranchID, s.FNumber, s.FName, t.FNumber, t.FName, m.FKind, m.FValueAdd, "
                               "m.FValueSpent, m.FPoints, COALESCE((SELECT x.FCash FROM card_value_split x WHERE x.FMoveID = m.FID), 0), "
                               "CASE WHEN m.FKind = 1 AND m.FID = (SELECT e.FID FROM card_movement e WHERE e.FCardID = m.FCardID "
                               "AND e.FKind = 1 ORDER BY e.FDate, e.FID LIMIT 1) THEN 1 ELSE 0 END, CASE WHEN m.FKind = %3 THEN "
                               "(SELECT b.FCash FROM card_balance_month b WHERE b.FCardID = m.FCardID AND b.FBranchID = m.FBranchID "
                               "AND b.FMonth < ? ORDER BY b.FMonth DESC LIMIT 1) END "
                               "FROM card_movement m %1%2")
                               .arg(joins.arg(QStringLiteral("m")), where.Sql())
                               .arg(int(Schema::Payment)),
                           QVariantList{key} + where.Params());
        while (c->Next()) {
            Row &r = rowOf(*c, 2);
            const qint64 add = c->Int(7), spent = c->Int(8), points = c->Int(9), cash = c->Int(10);
            const qint64 value = add - spent;
            switch (c->Int(6)) {
            case Schema::TopUp:
                r.f[fTopupPaid] += cash;
                r.f[fTopupBonus] += value - cash;
                r.f[c->Int(11) ? fNewCard : fRecharge] += value;
                break;
            case Schema::Payment: {
                r.f[fSpendPaid] -= cash;
                r.f[fSpendBonus] -= value - cash;
                Pair &pair = pairs[{c->Int(0), c->Int(1)}];
                pair.openCash = c->IsNull(12) ? 0 : c->Int(12);
                pair.paidSpent -= cash;
                pair.key = {r.branchNo, c->Text(4).toString()};
                break;
            }
            case Schema::Refund: r.f[fRefund] += value; break;
            case Schema::CashOut: r.f[fCashOut] -= value; break;
            case Schema::WrittenOff: r.f[fWriteOff] -= value; break;
            default: r.f[fAdjust] += value; break;
            }
            switch (c->Int(6)) {
            case Schema::PointsEarned: r.f[fPointsEarned] += points; break;
            case Schema::GiftRedeemed: r.f[fPointsGift] -= points; break;
            case Schema::PointsExpired: r.f[fPointsExpired] -= points; break;
            default: r.f[fPointsAdjust] += points; break;
            }
        }
    }
    for (const Pair &pair : std::as_const(pairs)) {
        if (pair.paidSpent > 0 && pair.openCash > 0)
            rows[pair.key].f[fRevenueOpen] += std::min(pair.openCash, pair.paidSpent);
    }

    ReportTable table({
        {QStringLiteral("FBranchNo"), Kind::Text}, {QStringLiteral("FBranchName"), Kind::Text},
        {QStringLiteral("FTypeName"), Kind::Text}, {QStringLiteral("FOpen"), Kind::Money},
        {QStringLiteral("FOpenPaid"), Kind::Money}, {QStringLiteral("FTopupPaid"), Kind::Money},
        {QStringLiteral("FTopupBonus"), Kind::Money}, {QStringLiteral("FNewCard"), Kind::Money},
        {QStringLiteral("FRecharge"), Kind::Money}, {QStringLiteral("FSpendPaid"), Kind::Money},
        {QStringLiteral("FSpendBonus"), Kind::Money}, {QStringLiteral("FRefund"), Kind::Money},
        {QStringLiteral("FCashOut"), Kind::Money}, {QStringLiteral("FAdjust"), Kind::Money},
        {QStringLiteral("FWriteOff"), Kind::Money}, {QStringLiteral("FClose"), Kind::Money},
        {QStringLiteral("FClosePaid"), Kind::Money}, {QStringLiteral("FDiff"), Kind::Money},
        {QStringLiteral("FRevenueOpen"), Kind::Money}, {QStringLiteral("FPointsOpen"), Kind::Money},
        {QStringLiteral("FPointsEarned"), Kind::Money}, {QStringLiteral("FPointsAdjust"), Kind::Money},
        {QStringLiteral("FPointsGift"), Kind::Money}, {QStringLiteral("FPointsExpired"), Kind::Money},
        {QStringLiteral("FPointsClose"), Kind::Money},
    });
    Row total;
    for (auto &[k, r] : rows) {
        // opening + in - out - closing: zero when the ledger agrees with the movements
        r.f[fDiff] = r.f[fOpen] + r.f[fTopupPaid] + r.f[fTopupBonus] + r.f[fRefund] + r.f[fAdjust] - r.f[fSpendPaid]
            - r.f[fSpendBonus] - r.f[fCashOut] - r.f[fWriteOff] - r.f[fClose];
        const qint64 row = table.AddRow(ReportTable::Detail);
        table.SetText(row, fBranchNo, r.branchNo);
        table.SetText(row, fBranchName, r.branchName);
        table.SetText(row, fTypeName, r.typeName);
        for (int f = fOpen; f < fCount; ++f) {
            table.SetNumber(row, f, r.f[f]);
            total.f[f] += r.f[f];
        }
    }
    const qint64 row = table.AddRow(ReportTable::Total);
    table.SetText(row, fBranchNo, QStringLiteral("合计"));
    for (int f = fOpen; f < fCount; ++f)
        table.SetNumber(row, f, total.f[f]);
    return table.Result();
}

} // namespace ReportQueries
