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

// Keeps to the cards (alias c) with a movement the month's query selects: the month from
// `movedFrom`, the branch terms. A branch's month then costs its own cards, not all it ever had.
void addMovedIn(SqlWhere &where, const Database &db, const FilterValues &values, const BranchScope &scope,
                const std::optional<QDateTime> &movedFrom)
{
    if (!movedFrom)
        return;
    SqlWhere moved(db.Driver());
    moved.Add(QStringLiteral("m.FCardID = c.FID"));
    moved.DateFrom(QStringLiteral("m.FDate"), movedFrom);
    moved.DateTo(QStringLiteral("m.FDate"), movedFrom->addMonths(1), false);
    addBranchTerms(moved, values, scope);
    where.Add(QStringLiteral("EXISTS (SELECT 1 FROM card_movement m LEFT JOIN branch s ON s.FID = m.FBranchID%1)")
                  .arg(moved.Sql()),
              moved.Params());
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
// branch range is given) the latest month before `month` (yyyymm), one index seek each; with
// `movedFrom`, of the cards that moved in the month alone.
QHash<qint64, Balance> openingFromLedger(const Database &db, const FilterValues &values, qint32 month,
                                         const BranchScope &scope, const std::optional<QDateTime> &movedFrom)
{
    SqlWhere where(db.Driver());
    addCardTerms(where, values);
    addBranchTerms(where, values, scope);
    addMovedIn(where, db, values, scope, movedFrom);
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

// The cards a ledger filter selects, by number; with `movedFrom`, those that moved in the month.
std::vector<Card> selectCards(const Database &db, const FilterValues &values, const BranchScope &scope,
                              const std::optional<QDateTime> &movedFrom)
{
    SqlWhere where(db.Driver());
    addCardTerms(where, values);
    // A branch lists the cards it issued and those that moved there, whatever "ShowVipDo" says.
    where.CardInScope(QStringLiteral("c"), scope, Schema::HasLedger(db));
    addMovedIn(where, db, values, scope, movedFrom);
    auto cursor = db.Select(QStringLiteral("SELECT c.FID, c.FNumber, t.FName, c.FName FROM member_card c "
                                           "LEFT JOIN card_type t ON t.FID = c.FTypeID%1 ORDER BY c.FNumber")
                                .arg(where.Sql()),
                            where.Params());
    std::vector<Card> cards;
    while (cursor->Next())
        cards.push_back({cursor->Int(0), cursor->Text(1).toString(), cursor->Text(2).toString(), cursor->Text(3).toString()});
    return cards;
}

// A stretch of a card's ledger: the balance before, the movements' sums and the balance after.
struct Figures
{
    Balance open;
    qint64 add = 0, spent = 0, points = 0;
    Balance close;

    void Add(const Figures &f)
    {
        open.value += f.open.value;
        open.points += f.open.points;
        add += f.add;
        spent += f.spent;
        points += f.points;
        close.value += f.close.value;
        close.points += f.close.points;
    }
};

// The ledger's rows: per card its opening row, one row per movement and a subtotal; a total.
class LedgerTable
{
public:
    LedgerTable()
        : m_table({
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
          })
    {}

    void Opening(const Card &card, const QString &firstDay, const Balance &open)
    {
        const qint64 row = m_table.AddRow(ReportTable::Detail);
        m_table.SetDate(row, fDate, firstDay);
        writeCard(row, card, QStringLiteral("期初"));
        writeFigures(row, {open, 0, 0, 0, open});
    }

    void Movement(const Card &card, const RowCursor &move, const Figures &f)
    {
        const qint64 row = m_table.AddRow(ReportTable::Detail);
        m_table.SetDate(row, fDate, move.Text(mDate));
        m_table.SetText(row, fBranch, move.Text(mBranch));
        writeCard(row, card, Schema::MovementKindName(move.Int(mKind)));
        m_table.SetText(row, fBill, move.Text(mBillNo));
        m_table.SetText(row, fOper, move.Text(mOperator));
        writeFigures(row, f);
    }

    void Subtotal(const Card &card, const Figures &sum)
    {
        const qint64 row = m_table.AddRow(ReportTable::Subtotal);
        writeCard(row, card, QStringLiteral("小计"));
        writeFigures(row, sum);
    }

    void Total(const Figures &total)
    {
        const qint64 row = m_table.AddRow(ReportTable::Total);
        m_table.SetText(row, fCard, QStringLiteral("合计"));
        writeFigures(row, total);
    }

    RecordsetPtr Result() const { return m_table.Result(); }

private:
    enum { fDate, fBranch, fCard, fType, fName, fDoType, fBill, fOpenV, fOpenP, fAdd, fSpent, fPoints, fCloseV, fCloseP, fOper };

    void writeFigures(qint64 row, const Figures &f)
    {
        m_table.SetNumber(row, fOpenV, f.open.value);
        m_table.SetNumber(row, fOpenP, f.open.points);
        m_table.SetNumber(row, fAdd, f.add);
        m_table.SetNumber(row, fSpent, f.spent);
        m_table.SetNumber(row, fPoints, f.points);
        m_table.SetNumber(row, fCloseV, f.close.value);
        m_table.SetNumber(row, fCloseP, f.close.points);
    }

    void writeCard(qint64 row, const Card &card, const QString &doType)
    {
        m_table.SetText(row, fCard, card.number);
        m_table.SetText(row, fType, card.type);
        m_table.SetText(row, fName, card.name);
        m_table.SetText(row, fDoType, doType);
    }

    ReportTable m_table;
};

// The month's movements of `card`, which come next in `moves` (`pending`: a row is current),
// from its opening balance on; each written to `table` unless it is null. Returns the card's
// figures for the month.
Figures cardMonth(const Card &card, const Balance &opening, RowCursor &moves, bool &pending, LedgerTable *table)
{
    Figures sum;
    sum.open = opening;
    Balance balance = sum.open;
    while (pending && moves.Int(mCard) == card.id) {
        Figures f;
        f.open = balance;
        f.add = moves.Int(mAdd);
        f.spent = moves.Int(mSpent);
        f.points = moves.Int(mPoints);
        balance.value += f.add - f.spent;
        balance.points += f.points;
        f.close = balance;
        sum.add += f.add;
        sum.spent += f.spent;
        sum.points += f.points;
        if (table)
            table->Movement(card, moves, f);
        pending = moves.Next();
    }
    sum.close = balance;
    return sum;
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

    const std::optional<QDateTime> movedFrom = activeOnly ? std::optional(start) : std::nullopt;
    const std::vector<Card> cards = selectCards(db, values, scope, movedFrom);
    // The branch range selects the movements a ledger is made of, its balances included.
    const QHash<qint64, Balance> opening = Schema::HasLedger(db)
        ? openingFromLedger(db, values, year * 100 + month, scope, movedFrom)
        : openingFromMovements(db, values, start, movementJoin(), scope);

    const SqlQuery monthMoves = Movements10901(db.Driver(), filter, scope);
    auto moves = db.Select(monthMoves.sql, monthMoves.params);
    bool pending = moves->Next();

    LedgerTable table;
    const QString firstDay = FilterValues::SqlDateTime(start);
    Figures total;
    for (const Card &card : cards) {
        // Movements of cards outside the list cannot occur: both queries share the card terms.
        const bool moved = pending && moves->Int(mCard) == card.id;
        if (activeOnly && !moved)
            continue;
        if (!sumOnly)
            table.Opening(card, firstDay, opening.value(card.id));
        const Figures sum = cardMonth(card, opening.value(card.id), *moves, pending, sumOnly ? nullptr : &table);
        table.Subtotal(card, sum);
        total.Add(sum);
    }
    table.Total(total);
    return table.Result();
}

} // namespace ReportQueries
