// Report 10901: a month's stored-value and points ledger per card.
#include "ReportQueries.h"

#include "Database.h"
#include "FilterValues.h"
#include "ReportTable.h"
#include "RowCursor.h"
#include "Schema.h"

#include <QHash>

#include <vector>

namespace {

using Kind = ReportTable::Kind;

struct Card { qint64 id; QString number, type, name; };
struct Balance { qint64 value = 0; qint64 points = 0; };

enum MoveColumn { mCard, mDate, mKind, mBillNo, mAdd, mSpent, mPoints, mOperator, mBranch };

// The cards and movements a ledger filter selects.
void addCardTerms(SqlWhere &where, const FilterValues &values)
{
    where.Range(QStringLiteral("c.FNumber"), values.Text(QStringLiteral("BVipNum")), values.Text(QStringLiteral("EVipNum")));
    where.Range(QStringLiteral("t.FNumber"), values.Text(QStringLiteral("BVipTypeNum")), values.Text(QStringLiteral("EVipTypeNum")));
    where.Contains(QStringLiteral("c.FName"), values.Text(QStringLiteral("VipName")));
}

bool hasBranchRange(const FilterValues &values, const BranchScope &scope)
{
    return !values.Text(QStringLiteral("BBranchNum")).isEmpty() || !values.Text(QStringLiteral("EBranchNum")).isEmpty()
        || !scope.IsHeadOffice();
}

void addBranchTerms(SqlWhere &where, const FilterValues &values, const BranchScope &scope)
{
    where.Range(QStringLiteral("s.FNumber"), values.Text(QStringLiteral("BBranchNum")), values.Text(QStringLiteral("EBranchNum")));
    where.InScope(QStringLiteral("s.FNumber"), scope);
}

// Balances before `start` summed from every earlier movement: the reference, and the way for a
// chain without the balance ledger. Its cost grows with the chain's history.
QHash<qint64, Balance> openingFromMovements(const Database &db, const FilterValues &values, const QDateTime &start,
                                            const QString &cardJoin, const BranchScope &scope)
{
    SqlWhere where(db.Driver());
    where.DateTo(QStringLiteral("m.FDate"), start, false);
    addCardTerms(where, values);
    addBranchTerms(where, values, scope);
    auto cursor = db.Select(QStringLiteral("SELECT m.FCardID, SUM(m.FValueAdd - m.FValueSpent), SUM(m.FPoints) %1%2 "
                                           "GROUP BY m.FCardID").arg(cardJoin, where.Sql()),
                            where.Params());
    QHash<qint64, Balance> opening;
    while (cursor->Next())
        opening.insert(cursor->Int(0), {cursor->Int(1), cursor->Int(2)});
    return opening;
}

// The same balances from the ledger's closing rows: per card (per card and branch when a
// branch range is given) the latest month before `month` (yyyymm), one index seek each.
QHash<qint64, Balance> openingFromLedger(const Database &db, const FilterValues &values, qint32 month,
                                         const BranchScope &scope)
{
    SqlWhere where(db.Driver());
    addCardTerms(where, values);
    addBranchTerms(where, values, scope);
    const bool allBranches = !hasBranchRange(values, scope);
    const QString latest = allBranches
        ? QStringLiteral("(SELECT b.%1 FROM card_balance_card b WHERE b.FCardID = c.FID AND b.FMonth < ? "
                         "ORDER BY b.FMonth DESC LIMIT 1)")
        : QStringLiteral("(SELECT b.%1 FROM card_balance_month b WHERE b.FCardID = p.FCardID "
                         "AND b.FBranchID = p.FBranchID AND b.FMonth < ? ORDER BY b.FMonth DESC LIMIT 1)");
    const QString from = allBranches
        ? QStringLiteral("FROM member_card c LEFT JOIN card_type t ON t.FID = c.FTypeID")
        : QStringLiteral("FROM card_balance_branch p JOIN member_card c ON c.FID = p.FCardID "
                         "LEFT JOIN card_type t ON t.FID = c.FTypeID JOIN branch s ON s.FID = p.FBranchID");
    auto cursor = db.Select(QStringLiteral("SELECT c.FID, %1, %2 %3%4")
                                .arg(latest.arg(QStringLiteral("FValue")), latest.arg(QStringLiteral("FPoints")), from, where.Sql()),
                            QVariantList{month, month} + where.Params());
    QHash<qint64, Balance> opening;
    while (cursor->Next()) {
        if (cursor->IsNull(1))
            continue;    // no movement (at this branch) before the month
        Balance &b = opening[cursor->Int(0)];
        b.value += cursor->Int(1);
        b.points += cursor->Int(2);
    }
    return opening;
}

// Without a branch range every movement of a card counts, whatever its branch row. The
// unary + keeps SQLite on the date index on a long chain instead of probing every card.
QString movementJoin()
{
    return QStringLiteral(
        "FROM card_movement m JOIN member_card c ON c.FID = +m.FCardID LEFT JOIN card_type t ON t.FID = c.FTypeID "
        "LEFT JOIN branch s ON s.FID = m.FBranchID LEFT JOIN employee e ON e.FID = m.FOperatorID");
}

} // namespace

namespace ReportQueries {

SqlQuery Movements10901(const DbDriver &driver, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const QDateTime start(QDate(values.Int(QStringLiteral("Year"), 1900, 9999, std::nullopt),
                                values.Int(QStringLiteral("Month"), 1, 12, std::nullopt), 1),
                          QTime(0, 0), Qt::UTC);
    // The month's bounds on FDate itself: a partitioned chain reads that month's partition only.
    SqlWhere where(driver);
    where.DateFrom(QStringLiteral("m.FDate"), start);
    where.DateTo(QStringLiteral("m.FDate"), start.addMonths(1), false);
    addCardTerms(where, values);
    addBranchTerms(where, values, scope);
    return {QStringLiteral("SELECT m.FCardID, %1, m.FKind, m.FBillNo, m.FValueAdd, m.FValueSpent, m.FPoints, "
                           "e.FName, s.FName %2%3 ORDER BY c.FNumber, m.FDate, m.FID")
                .arg(driver.DateTimeText(QStringLiteral("m.FDate")), movementJoin(), where.Sql()),
            where.Params()};
}

RecordsetPtr Run10901(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const qint32 year = values.Int(QStringLiteral("Year"), 1900, 9999, std::nullopt);
    const qint32 month = values.Int(QStringLiteral("Month"), 1, 12, std::nullopt);
    const bool sumOnly = values.Switch(QStringLiteral("ShowSumOnly"));
    const bool activeOnly = values.Switch(QStringLiteral("ShowVipDo"));
    const QDateTime start(QDate(year, month, 1), QTime(0, 0), Qt::UTC);   // wall clock
    const DbDriver &driver = db.Driver();
    const QString cardJoin = movementJoin();

    std::vector<Card> cards;
    {
        SqlWhere where(driver);
        addCardTerms(where, values);
        // A branch lists the cards it issued and those that moved there, whatever "ShowVipDo" says.
        where.CardInScope(QStringLiteral("c"), scope, Schema::HasLedger(db));
        auto cursor = db.Select(QStringLiteral("SELECT c.FID, c.FNumber, t.FName, c.FName FROM member_card c "
                                               "LEFT JOIN card_type t ON t.FID = c.FTypeID%1 ORDER BY c.FNumber")
                                    .arg(where.Sql()),
                                where.Params());
        while (cursor->Next())
            cards.push_back({cursor->Int(0), cursor->Text(1).toString(), cursor->Text(2).toString(), cursor->Text(3).toString()});
    }

    // The branch range selects the movements a ledger is made of, its balances included.
    const QHash<qint64, Balance> opening = Schema::HasLedger(db)
        ? openingFromLedger(db, values, year * 100 + month, scope)
        : openingFromMovements(db, values, start, cardJoin, scope);

    const SqlQuery monthMoves = Movements10901(driver, filter, scope);
    auto moves = db.Select(monthMoves.sql, monthMoves.params);
    bool pending = moves->Next();

    ReportTable table({
        {QStringLiteral("FDate"), Kind::Date},
        {QStringLiteral("FBranchName"), Kind::Text},
        {QStringLiteral("FCardId"), Kind::Text},
        {QStringLiteral("FCardType"), Kind::Text},
        {QStringLiteral("FVipName"), Kind::Text},
        {QStringLiteral("DoType"), Kind::Text},
        {QStringLiteral("FBillNo"), Kind::Text},
        {QStringLiteral("FCardAmount"), Kind::Money},
        {QStringLiteral("FVipNum"), Kind::Money},
        {QStringLiteral("FAdjustCardAmountAdd"), Kind::Money},
        {QStringLiteral("FAdjustCardAmountDec"), Kind::Money},
        {QStringLiteral("FAdjustVipNum"), Kind::Money},
        {QStringLiteral("FResidualCardAmount"), Kind::Money},
        {QStringLiteral("FResidualVipNum"), Kind::Money},
        {QStringLiteral("FCashierName"), Kind::Text},
    });
    enum { fDate, fBranch, fCard, fType, fName, fDoType, fBill, fOpenV, fOpenP, fAdd, fSpent, fPoints, fCloseV, fCloseP, fOper };

    struct Figures { Balance open; qint64 add = 0, spent = 0, points = 0; Balance close; };
    auto writeFigures = [&](qint64 row, const Figures &f) {
        table.SetNumber(row, fOpenV, f.open.value);
        table.SetNumber(row, fOpenP, f.open.points);
        table.SetNumber(row, fAdd, f.add);
        table.SetNumber(row, fSpent, f.spent);
        table.SetNumber(row, fPoints, f.points);
        table.SetNumber(row, fCloseV, f.close.value);
        table.SetNumber(row, fCloseP, f.close.points);
    };
    auto writeCard = [&](qint64 row, const Card &card, const QString &doType) {
        table.SetText(row, fCard, card.number);
        table.SetText(row, fType, card.type);
        table.SetText(row, fName, card.name);
        table.SetText(row, fDoType, doType);
    };
    const QString firstDay = FilterValues::SqlDateTime(start);
    Figures total;

    for (const Card &card : cards) {
        // Movements of cards outside the list cannot occur: both queries share the card terms.
        const bool moved = pending && moves->Int(mCard) == card.id;
        if (activeOnly && !moved)
            continue;
        Figures sum;
        sum.open = opening.value(card.id);
        Balance balance = sum.open;
        if (!sumOnly) {
            const qint64 row = table.AddRow(ReportTable::Detail);
            table.SetDate(row, fDate, firstDay);
            writeCard(row, card, QStringLiteral("期初"));
            writeFigures(row, {sum.open, 0, 0, 0, sum.open});
        }
        while (pending && moves->Int(mCard) == card.id) {
            Figures f;
            f.open = balance;
            f.add = moves->Int(mAdd);
            f.spent = moves->Int(mSpent);
            f.points = moves->Int(mPoints);
            balance.value += f.add - f.spent;
            balance.points += f.points;
            f.close = balance;
            sum.add += f.add;
            sum.spent += f.spent;
            sum.points += f.points;
            if (!sumOnly) {
                const qint64 row = table.AddRow(ReportTable::Detail);
                table.SetDate(row, fDate, moves->Text(mDate));
                table.SetText(row, fBranch, moves->Text(mBranch));
                writeCard(row, card, Schema::MovementKindName(moves->Int(mKind)));
                table.SetText(row, fBill, moves->Text(mBillNo));
                table.SetText(row, fOper, moves->Text(mOperator));
                writeFigures(row, f);
            }
            pending = moves->Next();
        }
        sum.close = balance;
        const qint64 row = table.AddRow(ReportTable::Subtotal);
        writeCard(row, card, QStringLiteral("小计"));
        writeFigures(row, sum);
        total.open.value += sum.open.value;
        total.open.points += sum.open.points;
        total.add += sum.add;
        total.spent += sum.spent;
        total.points += sum.points;
        total.close.value += sum.close.value;
        total.close.points += sum.close.points;
    }
    const qint64 row = table.AddRow(ReportTable::Total);
    table.SetText(row, fCard, QStringLiteral("合计"));
    writeFigures(row, total);
    return table.Result();
}

} // namespace ReportQueries
