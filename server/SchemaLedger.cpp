// The balance ledger beside card_movement: closing balances per card and month, over all
// branches and per branch.
//
// card_balance_card holds, for every card and month in which the card moved, the sum of all
// its movements up to the end of that month; card_balance_month the same per branch, and
// card_balance_branch lists the card/branch pairs so that a reader finds them without
// scanning the months. The balance before any month is then, per card (or card and branch),
// the row of the latest earlier month: one index seek, however many years lie before it.
//
// A movement written in month M (back-dated or not) creates the row of M from the latest
// earlier row if it is missing and adds its amounts to every row from M on; a deleted one
// subtracts them; an update does both. The rows therefore always equal the sums of the
// movements, whoever writes them.
//
// The paid (cash) part of the stored value. A top-up adds its FPaid to the cash part (all of
// its amount when FPaid is NULL); every other value movement of net amount v changes the cash
// part by v x cash / balance of the card just before it, rounded half to even in hundredths
// (all of v when that balance is not positive), the rest being bonus. The order is FDate, then
// FID. card_value_split holds each value movement's cash part and the card's balance and cash
// part after it; a movement written, removed or changed at a position re-walks the card's value
// movements from that position on (one row for a movement written at the end), and adds the
// change of every cash part to the ledger's FCash from that movement's month on.
//
// card_balance_sum holds the month's changes (movements, value, points, cash part) per branch,
// card type and month, so that a branch's balance at any month end is a sum over its months,
// not a read of every card that ever moved there. card_balance_type records the type each
// card's changes are summed under; a card whose type (or row) in member_card changes has its
// changes moved to the new type by member_card's triggers.
#include "Schema.h"

#include "Database.h"
#include "DbDriver.h"
#include "VelError.h"


namespace {

bool isSqlite(const DbDriver &driver)
{
    return driver.Name() == u"SQLite";
}

// Month key yyyymm of a date-time expression.
QString monthKey(const DbDriver &driver, const QString &expr)
{
    if (isSqlite(driver))
        return QStringLiteral("(CAST(substr(%1, 1, 4) AS INTEGER) * 100 + CAST(substr(%1, 6, 2) AS INTEGER))").arg(expr);
    return QStringLiteral("(EXTRACT(YEAR FROM %1)::INT * 100 + EXTRACT(MONTH FROM %1)::INT)").arg(expr);
}

// The cash part that a value movement of kind `kind`, net amount `v` and paid part `paid` adds
// when the card holds `bal` of which `cash` is paid: half-to-even rounding of v x cash / bal.
QString cashPart(const QString &kind, const QString &v, const QString &paid, const QString &bal, const QString &cash)
{
    const QString n = QStringLiteral("ABS(%1 * %2)").arg(v, cash);
    return QStringLiteral("(CASE WHEN %1 = 1 THEN COALESCE(%2, %3) WHEN %4 <= 0 THEN %3 "
                          "ELSE (CASE WHEN %3 * %5 < 0 THEN -1 ELSE 1 END) * (%6 / %4 + CASE WHEN 2 * (%6 %% %4) > %4 "
                          "OR (2 * (%6 %% %4) = %4 AND (%6 / %4) %% 2 = 1) THEN 1 ELSE 0 END) END)")
        .arg(kind, paid, v, bal, cash, n)
        .replace(QStringLiteral("%%"), QStringLiteral("%"));
}

// Movements that move stored value (a top-up of nothing included: it still has a position).
QString valueMovement(const QString &m)
{
    return QStringLiteral("(%1.FValueAdd <> 0 OR %1.FValueSpent <> 0 OR %1.FKind = 1)").arg(m);
}

// The type that member_card gives `card` (-1: no such card).
QString cardType(const QString &card)
{
    return QStringLiteral("COALESCE((SELECT k.FTypeID FROM member_card k WHERE k.FID = %1), -1)").arg(card);
}

// The type under which the changes of `card` are summed.
QString summedType(const QString &card)
{
    return QStringLiteral("(SELECT r.FTypeID FROM card_balance_type r WHERE r.FCardID = %1)").arg(card);
}

// Adds the counts and amounts of a VALUES list or SELECT to card_balance_sum.
QString addSums(const QString &rows)
{
    return QStringLiteral("INSERT INTO card_balance_sum (FBranchID, FTypeID, FMonth, FMoves, FValue, FPoints, FCash) %1 "
                          "ON CONFLICT (FBranchID, FTypeID, FMonth) DO UPDATE SET FMoves = card_balance_sum.FMoves + excluded.FMoves, "
                          "FValue = card_balance_sum.FValue + excluded.FValue, FPoints = card_balance_sum.FPoints + excluded.FPoints, "
                          "FCash = card_balance_sum.FCash + excluded.FCash; ")
        .arg(rows);
}

QString ensureRows(const QString &card);

// Removes the cash part of movement `id` (when it matches `only`), noting its change for the ledger.
QString detachSql(const QString &id, const QString &only = QStringLiteral("1 = 1"))
{
    return QStringLiteral(
               "INSERT INTO card_split_change (FCardID, FMoveID, FBranchID, FMonth, FDate, FCash, FValueAfter, FCashAfter, FDelta) "
               "SELECT FCardID, NULL, FBranchID, FMonth, FDate, 0, 0, 0, -FCash FROM card_value_split WHERE FMoveID = %1 AND %2; "
               "DELETE FROM card_value_split WHERE FMoveID = %1 AND %2; ")
        .arg(id, only);
}

// Re-walks the value movements of `card` from position (`date`, `id`) on, stores their cash
// parts and adds the changes (and those noted by detachSql) to the ledger's FCash.
QString resplitSql(const DbDriver &driver, const QString &card, const QString &date, const QString &id)
{
    const QString seq = QStringLiteral(
        "seq AS (SELECT m.FID, m.FBranchID, m.FDate, m.FKind, m.FValueAdd - m.FValueSpent AS v, m.FPaid AS paid, "
        "row_number() OVER (ORDER BY m.FDate, m.FID) AS n FROM card_movement m WHERE m.FCardID = %1 "
        "AND (m.FDate > %2 OR (m.FDate = %2 AND m.FID >= %3)) AND %4)").arg(card, date, id, valueMovement(QStringLiteral("m")));
    const QString before = QStringLiteral(
        "(SELECT p.%4 FROM card_value_split p WHERE p.FCardID = %1 AND (p.FDate < %2 OR (p.FDate = %2 AND p.FMoveID < %3)) "
        "ORDER BY p.FDate DESC, p.FMoveID DESC LIMIT 1)").arg(card, date, id);
    const QString part = cashPart(QStringLiteral("s.FKind"), QStringLiteral("s.v"), QStringLiteral("s.paid"),
                                  QStringLiteral("w.bal"), QStringLiteral("w.cash"));
    const QString walk = QStringLiteral(
        "walk (n, bal, cash, part) AS (SELECT CAST(0 AS BIGINT), CAST(COALESCE(%1, 0) AS BIGINT), "
        "CAST(COALESCE(%2, 0) AS BIGINT), CAST(0 AS BIGINT) "
        "UNION ALL SELECT s.n, w.bal + s.v, w.cash + %3, %3 FROM walk w JOIN seq s ON s.n = w.n + 1)")
        .arg(before.arg(QStringLiteral("FValueAfter")), before.arg(QStringLiteral("FCashAfter")), part);
    const QString changed = QStringLiteral("(SELECT MIN(c.FMonth) FROM card_split_change c WHERE c.FCardID = %1 AND c.FDelta <> 0)").arg(card);
    return QStringLiteral(
               "INSERT INTO card_split_change (FCardID, FMoveID, FBranchID, FMonth, FDate, FCash, FValueAfter, FCashAfter, FDelta) "
               "WITH RECURSIVE %2, %3 SELECT %1, s.FID, s.FBranchID, %4, s.FDate, w.part, w.bal, w.cash, w.part - COALESCE(o.FCash, 0) "
               "FROM walk w JOIN seq s ON s.n = w.n LEFT JOIN card_value_split o ON o.FMoveID = s.FID WHERE w.n > 0; "
               "INSERT INTO card_value_split (FMoveID, FCardID, FBranchID, FMonth, FDate, FCash, FValueAfter, FCashAfter) "
               "SELECT FMoveID, FCardID, FBranchID, FMonth, FDate, FCash, FValueAfter, FCashAfter FROM card_split_change "
               "WHERE FCardID = %1 AND FMoveID IS NOT NULL ON CONFLICT (FMoveID) DO UPDATE SET FCardID = excluded.FCardID, "
               "FBranchID = excluded.FBranchID, FMonth = excluded.FMonth, FDate = excluded.FDate, FCash = excluded.FCash, "
               "FValueAfter = excluded.FValueAfter, FCashAfter = excluded.FCashAfter; "
               "%6"
               "UPDATE card_balance_card SET FCash = FCash + (SELECT COALESCE(SUM(c.FDelta), 0) FROM card_split_change c "
               "WHERE c.FCardID = %1 AND c.FMonth <= card_balance_card.FMonth) WHERE FCardID = %1 AND FMonth >= %5; "
               "UPDATE card_balance_month SET FCash = FCash + (SELECT COALESCE(SUM(c.FDelta), 0) FROM card_split_change c "
               "WHERE c.FCardID = %1 AND c.FBranchID = card_balance_month.FBranchID AND c.FMonth <= card_balance_month.FMonth) "
               "WHERE FCardID = %1 AND FMonth >= %5; "
               "%7"
               "DELETE FROM card_split_change WHERE FCardID = %1; ")
        .arg(card, seq, walk, monthKey(driver, QStringLiteral("s.FDate")), changed, ensureRows(card),
             addSums(QStringLiteral("SELECT c.FBranchID, %2, c.FMonth, 0, 0, 0, SUM(c.FDelta) FROM card_split_change c "
                                    "WHERE c.FCardID = %1 AND c.FDelta <> 0 GROUP BY c.FBranchID, c.FMonth")
                         .arg(card, summedType(card))));
}

// The closing balance of the latest month before `month` in `table` for the key terms.
QString previous(const QString &table, const QString &column, const QString &key, const QString &month)
{
    return QStringLiteral("COALESCE((SELECT b.%1 FROM %2 b WHERE %3 AND b.FMonth < %4 ORDER BY b.FMonth DESC LIMIT 1), 0)")
        .arg(column, table, key, month);
}

// The ledger rows of the months and branches that the changes noted for `card` fall in, made
// from the latest earlier ones where missing: a walk may pass a movement whose own row the
// statement writing it has not made yet (the new side of an update, a REPLACE).
QString ensureRows(const QString &card)
{
    const QString perBranch = QStringLiteral("b.FCardID = c.FCardID AND b.FBranchID = c.FBranchID");
    const QString perCard = QStringLiteral("b.FCardID = c.FCardID");
    const QString month = QStringLiteral("c.FMonth");
    auto prev = [&](const char *table, const char *col, const QString &key) {
        return previous(QLatin1String(table), QLatin1String(col), key, month);
    };
    return QStringLiteral(
               "INSERT INTO card_balance_branch (FCardID, FBranchID) SELECT DISTINCT c.FCardID, c.FBranchID "
               "FROM card_split_change c WHERE c.FCardID = %1 ON CONFLICT (FCardID, FBranchID) DO NOTHING; "
               "INSERT INTO card_balance_month (FCardID, FBranchID, FMonth, FValue, FPoints, FCash) "
               "SELECT DISTINCT c.FCardID, c.FBranchID, c.FMonth, %2, %3, %4 FROM card_split_change c WHERE c.FCardID = %1 "
               "ON CONFLICT (FCardID, FBranchID, FMonth) DO NOTHING; "
               "INSERT INTO card_balance_card (FCardID, FMonth, FValue, FPoints, FCash) "
               "SELECT DISTINCT c.FCardID, c.FMonth, %5, %6, %7 FROM card_split_change c WHERE c.FCardID = %1 "
               "ON CONFLICT (FCardID, FMonth) DO NOTHING; ")
        .arg(card, prev("card_balance_month", "FValue", perBranch), prev("card_balance_month", "FPoints", perBranch),
             prev("card_balance_month", "FCash", perBranch), prev("card_balance_card", "FValue", perCard),
             prev("card_balance_card", "FPoints", perCard), prev("card_balance_card", "FCash", perCard));
}

// Moves the summed changes of `card` from the type they are summed under to the one member_card
// gives it now (a new card, a changed type, a removed card).
QString retypeSql(const QString &driverMonth, const QString &card)
{
    const QString sums = QStringLiteral(
        "SELECT m.FBranchID, %2, %3, %4COUNT(*), %4SUM(m.FValueAdd - m.FValueSpent), %4SUM(m.FPoints), %4SUM(COALESCE(x.FCash, 0)) "
        "FROM card_balance_type r JOIN card_movement m ON m.FCardID = r.FCardID LEFT JOIN card_value_split x ON x.FMoveID = m.FID "
        "WHERE r.FCardID = %1 AND r.FTypeID <> %5 GROUP BY m.FBranchID, r.FTypeID, %3");
    const QString now = cardType(card);
    return addSums(sums.arg(card, QStringLiteral("r.FTypeID"), driverMonth, QStringLiteral("-"), now))
        + addSums(sums.arg(card, now, driverMonth, QString(), now))
        + QStringLiteral("UPDATE card_balance_type SET FTypeID = %2 WHERE FCardID = %1 AND FTypeID <> %2; ").arg(card, now);
}

// Statements that add (value, points) to the rows of `card` (and `branch`) from `month` on,
// making the month's rows from the latest earlier ones when missing. Every insert names its
// conflict target, so that the conflict clause of the statement firing a trigger (INSERT OR
// REPLACE, UPDATE OR ROLLBACK, ...), which overrides a trigger's own, cannot change them.
QString applySql(const QString &card, const QString &branch, const QString &month, const QString &value,
                 const QString &points, const QString &moves)
{
    const QString perBranch = QStringLiteral("b.FCardID = %1 AND b.FBranchID = %2").arg(card, branch);
    const QString perCard = QStringLiteral("b.FCardID = %1").arg(card);
    return QStringLiteral(
               "INSERT INTO card_balance_branch (FCardID, FBranchID) VALUES (%1, %2) "
               "ON CONFLICT (FCardID, FBranchID) DO NOTHING; "
               "INSERT INTO card_balance_month (FCardID, FBranchID, FMonth, FValue, FPoints, FCash) VALUES (%1, %2, %3, %6 + %4, %7 + %5, %8) "
               "ON CONFLICT (FCardID, FBranchID, FMonth) DO UPDATE "
               "SET FValue = card_balance_month.FValue + %4, FPoints = card_balance_month.FPoints + %5; "
               "UPDATE card_balance_month SET FValue = FValue + %4, FPoints = FPoints + %5 "
               "WHERE FCardID = %1 AND FBranchID = %2 AND FMonth > %3; ")
               .arg(card, branch, month, value, points,
                    previous(QStringLiteral("card_balance_month"), QStringLiteral("FValue"), perBranch, month),
                    previous(QStringLiteral("card_balance_month"), QStringLiteral("FPoints"), perBranch, month))
               .arg(previous(QStringLiteral("card_balance_month"), QStringLiteral("FCash"), perBranch, month))
        + QStringLiteral(
               "INSERT INTO card_balance_card (FCardID, FMonth, FValue, FPoints, FCash) VALUES (%1, %2, %5 + %3, %6 + %4, %7) "
               "ON CONFLICT (FCardID, FMonth) DO UPDATE "
               "SET FValue = card_balance_card.FValue + %3, FPoints = card_balance_card.FPoints + %4; "
               "UPDATE card_balance_card SET FValue = FValue + %3, FPoints = FPoints + %4 "
               "WHERE FCardID = %1 AND FMonth > %2; ")
               .arg(card, month, value, points,
                    previous(QStringLiteral("card_balance_card"), QStringLiteral("FValue"), perCard, month),
                    previous(QStringLiteral("card_balance_card"), QStringLiteral("FPoints"), perCard, month),
                    previous(QStringLiteral("card_balance_card"), QStringLiteral("FCash"), perCard, month))
        + QStringLiteral("INSERT INTO card_balance_type (FCardID, FTypeID) VALUES (%1, %2) ON CONFLICT (FCardID) DO NOTHING; ")
              .arg(card, cardType(card))
        + addSums(QStringLiteral("VALUES (%1, %2, %3, %4, %5, %6, 0)").arg(branch, summedType(card), month, moves, value, points));
}

// The row triggers that HasLedger looks for, named alike on both engines.
const QStringList rowTriggers{QStringLiteral("card_movement_balance_ins"), QStringLiteral("card_movement_balance_del"),
                              QStringLiteral("card_movement_balance_upd")};
// SQLite's triggers for rows that REPLACE removes without firing delete triggers.
// member_card's triggers that move a card's sums to its type.
const QStringList typeTriggers{QStringLiteral("member_card_balance_ins"), QStringLiteral("member_card_balance_del"),
                               QStringLiteral("member_card_balance_upd")};
const QStringList replaceTriggers{QStringLiteral("card_movement_balance_ins_stage"), QStringLiteral("card_movement_balance_ins_replaced"),
                                  QStringLiteral("card_movement_balance_upd_stage"), QStringLiteral("card_movement_balance_upd_replaced")};
// card_ledger_build names the tables of the last build (with their oids on PostgreSQL) and the
// layout it made; it is written in the build's transaction, so a reader whose snapshot is older
// than the build does not see its row.
const QStringList ledgerTables{QStringLiteral("card_balance_card"), QStringLiteral("card_balance_month"),
                               QStringLiteral("card_balance_branch"), QStringLiteral("card_value_split"),
                               QStringLiteral("card_split_change"), QStringLiteral("card_balance_sum"),
                               QStringLiteral("card_balance_type"), QStringLiteral("card_ledger_build")};
// Raised whenever the ledger's tables or what they hold change shape.
constexpr int ledgerLayout = 3;

// SQLite trigger statements applying the movement `row` (NEW or OLD) with `sign`, then its
// cash part (and those of the card's later value movements). `alsoDetach`: a further id whose
// cash part goes first, so that the walk does not take it for the moved row's (an UPDATE OR
// REPLACE onto another card's movement leaves that one's behind).
QString sqliteApply(const DbDriver &driver, const QString &row, const QString &sign, const QString &alsoDetach = {})
{
    return applySql(row + QStringLiteral(".FCardID"), row + QStringLiteral(".FBranchID"),
                    monthKey(driver, row + QStringLiteral(".FDate")),
                    QStringLiteral("%1(%2.FValueAdd - %2.FValueSpent)").arg(sign, row),
                    QStringLiteral("%1%2.FPoints").arg(sign, row), sign + QStringLiteral("1"))
        + detachSql(row + QStringLiteral(".FID"))
        + (alsoDetach.isEmpty() ? QString() : detachSql(alsoDetach))
        + resplitSql(driver, row + QStringLiteral(".FCardID"), row + QStringLiteral(".FDate"), row + QStringLiteral(".FID"));
}

// SQLite's REPLACE (INSERT OR REPLACE, REPLACE INTO, UPDATE OR REPLACE) deletes the row in its
// way without delete triggers unless the writer turned recursive_triggers on. A BEFORE trigger
// keeps the row that holds the new FID in card_balance_replaced; the AFTER trigger subtracts
// it if it is still kept, i.e. if the row was removed without the delete trigger, which
// forgets it. Rows are written one at a time, so the table holds at most the one row kept for
// the statement at hand (or left by one that stopped at the conflict, until the next).
QStringList sqliteReplaceTriggers(const DbDriver &driver)
{
    const QString kept = QStringLiteral("(SELECT r.%1 FROM card_balance_replaced r WHERE r.FID = NEW.FID)");
    const QString stage = QStringLiteral(
        "DELETE FROM card_balance_replaced; "
        "INSERT INTO card_balance_replaced (FID, FCardID, FBranchID, FMonth, FValue, FPoints, FDate) "
        "SELECT FID, FCardID, FBranchID, %1, FValueAdd - FValueSpent, FPoints, FDate FROM card_movement WHERE FID = NEW.FID; ")
                              .arg(monthKey(driver, QStringLiteral("FDate")));
    const QString subtract = applySql(kept.arg(QStringLiteral("FCardID")), kept.arg(QStringLiteral("FBranchID")),
                                      kept.arg(QStringLiteral("FMonth")), QStringLiteral("-") + kept.arg(QStringLiteral("FValue")),
                                      QStringLiteral("-") + kept.arg(QStringLiteral("FPoints")), QStringLiteral("-1"))
        // The removed row's own cash part only: the insert trigger may have written the new row's.
        + detachSql(QStringLiteral("NEW.FID"), QStringLiteral("FCardID = %1 AND FDate = %2")
                                                   .arg(kept.arg(QStringLiteral("FCardID")), kept.arg(QStringLiteral("FDate"))))
        + resplitSql(driver, kept.arg(QStringLiteral("FCardID")), kept.arg(QStringLiteral("FDate")), QStringLiteral("NEW.FID"))
        + QStringLiteral("DELETE FROM card_balance_replaced WHERE FID = NEW.FID; ");
    const QString isKept = QStringLiteral("EXISTS (SELECT 1 FROM card_balance_replaced r WHERE r.FID = NEW.FID)");
    const QString moved = QStringLiteral("NEW.FID IS NOT OLD.FID");
    return {
        QStringLiteral("CREATE TRIGGER %1 BEFORE INSERT ON card_movement BEGIN %2END").arg(replaceTriggers[0], stage),
        QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON card_movement WHEN %2 BEGIN %3END").arg(replaceTriggers[1], isKept, subtract),
        QStringLiteral("CREATE TRIGGER %1 BEFORE UPDATE OF FID ON card_movement WHEN %2 BEGIN %3END").arg(replaceTriggers[2], moved, stage),
        QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE OF FID ON card_movement WHEN %2 AND %3 BEGIN %4END")
            .arg(replaceTriggers[3], moved, isKept, subtract),
    };
}

} // namespace

namespace Schema {

QStringList DropLedgerStatements(const DbDriver &driver)
{
    QStringList out;
    if (isSqlite(driver)) {
        for (const QString &t : rowTriggers + replaceTriggers + typeTriggers)
            out << QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(t);
        out << QStringLiteral("DROP TABLE IF EXISTS card_balance_replaced");
    } else {
        out << QStringLiteral("DROP FUNCTION IF EXISTS card_balance_trigger() CASCADE")
            << QStringLiteral("DROP FUNCTION IF EXISTS card_balance_truncate() CASCADE")
            << QStringLiteral("DROP FUNCTION IF EXISTS card_type_trigger() CASCADE")
            << QStringLiteral("DROP FUNCTION IF EXISTS card_balance_apply(BIGINT, BIGINT, TIMESTAMP, BIGINT, BIGINT)")
            << QStringLiteral("DROP FUNCTION IF EXISTS card_balance_apply(BIGINT, BIGINT, TIMESTAMP, BIGINT, BIGINT, BIGINT)")
            << QStringLiteral("DROP FUNCTION IF EXISTS card_value_resplit(BIGINT, BIGINT, TIMESTAMP)")
            << QStringLiteral("DROP TABLE IF EXISTS card_balance_turn");
    }
    for (const QString &t : ledgerTables + QStringList{QStringLiteral("card_split_seq")})
        out << QStringLiteral("DROP TABLE IF EXISTS %1").arg(t);
    return out;
}

namespace {

// The statements of LedgerStatements. `inPlace` (PostgreSQL, a ledger of this layout there):
// the tables, triggers and turns stay and only their rows are replaced, so that a report whose
// snapshot is older than the rebuild still reads the old rows (a table dropped and created again
// would look empty to it) and no lock of the rebuild stands in a report's way.
QStringList ledgerStatements(const DbDriver &driver, bool inPlace)
{
    const bool sqlite = isSqlite(driver);
    QStringList out;
    const QString record = driver.SchemaSql(QStringLiteral("CREATE TABLE %1card_ledger_build (FTable %CODE PRIMARY KEY, "
                                                          "FOid %INT NOT NULL, FLayout %INT NOT NULL)"));
    if (inPlace) {
        // A ledger built before builds were recorded gains the record.
        out << record.arg(QStringLiteral("IF NOT EXISTS "));
        for (const QString &t : ledgerTables)
            out << QStringLiteral("DELETE FROM %1").arg(t);
        out << QStringLiteral("DROP TABLE IF EXISTS card_split_seq");
    }
    // PostgreSQL gives a new ledger its keys and indexes once the rows are in: one sort each
    // instead of an index insert per row, most of them in no order.
    QStringList keys;
    auto keyed = [&](const QString &table, const QString &columns, const QString &key, const QString &covering) {
        if (sqlite)
            return driver.SchemaSql(QStringLiteral("CREATE TABLE %1 (%2, PRIMARY KEY (%3)) WITHOUT ROWID").arg(table, columns, key));
        keys << QStringLiteral("ALTER TABLE %1 ADD PRIMARY KEY (%2)%3")
                    .arg(table, key, covering.isEmpty() ? QString() : QStringLiteral(" INCLUDE (%1)").arg(covering));
        return driver.SchemaSql(QStringLiteral("CREATE TABLE %1 (%2)").arg(table, columns));
    };
    if (!inPlace) {
        // Seeks read the balances from the index alone.
        const QString balances = QStringLiteral("FValue, FPoints, FCash");
        out << DropLedgerStatements(driver) << record.arg(QString());
        out << keyed(QStringLiteral("card_balance_branch"), QStringLiteral("FCardID %INT NOT NULL, FBranchID %INT NOT NULL"),
                     QStringLiteral("FCardID, FBranchID"), QString())
            << keyed(QStringLiteral("card_balance_month"),
                     QStringLiteral("FCardID %INT NOT NULL, FBranchID %INT NOT NULL, FMonth %INT NOT NULL, "
                                    "FValue %INT NOT NULL, FPoints %INT NOT NULL, FCash %INT NOT NULL"),
                     QStringLiteral("FCardID, FBranchID, FMonth"), balances)
            << keyed(QStringLiteral("card_balance_card"),
                     QStringLiteral("FCardID %INT NOT NULL, FMonth %INT NOT NULL, FValue %INT NOT NULL, FPoints %INT NOT NULL, "
                                    "FCash %INT NOT NULL"),
                     QStringLiteral("FCardID, FMonth"), balances);
        const QString splitColumns = QStringLiteral("FMoveID %INT NOT NULL%1, FCardID %INT NOT NULL, FBranchID %INT NOT NULL, "
                                                    "FMonth %INT NOT NULL, FDate %DT NOT NULL, FCash %INT NOT NULL, "
                                                    "FValueAfter %INT NOT NULL, FCashAfter %INT NOT NULL");
        const QStringList indexes = LedgerIndexStatements()
            // A card's balance and paid part as at a moment read from the index alone (10909, 10911, the walks).
            << QStringLiteral("CREATE INDEX ix_value_split_card ON card_value_split (FCardID, FDate, FMoveID%1")
                   .arg(sqlite ? QStringLiteral(", FValueAfter, FCashAfter)") : QStringLiteral(") INCLUDE (FValueAfter, FCashAfter)"));
        out << driver.SchemaSql(QStringLiteral("CREATE TABLE card_value_split (%1)")
                                    .arg(splitColumns.arg(sqlite ? QStringLiteral(" PRIMARY KEY") : QString())));
        if (sqlite)
            out << indexes;
        else
            keys << QStringLiteral("ALTER TABLE card_value_split ADD PRIMARY KEY (FMoveID)") << indexes;
        out << driver.SchemaSql(QStringLiteral("CREATE %1TABLE card_split_change (FCardID %INT NOT NULL, FMoveID %INT, "
                                               "FBranchID %INT NOT NULL, FMonth %INT NOT NULL, FDate %DT NOT NULL, FCash %INT NOT NULL, "
                                               "FValueAfter %INT NOT NULL, FCashAfter %INT NOT NULL, FDelta %INT NOT NULL)")
                                    .arg(sqlite ? QString() : QStringLiteral("UNLOGGED ")))
            << QStringLiteral("CREATE INDEX ix_split_change_card ON card_split_change (FCardID)")
            << driver.SchemaSql(QStringLiteral("CREATE TABLE card_balance_sum (FBranchID %INT NOT NULL, FTypeID %INT NOT NULL, "
                                               "FMonth %INT NOT NULL, FMoves %INT NOT NULL, FValue %INT NOT NULL, FPoints %INT NOT NULL, "
                                               "FCash %INT NOT NULL, PRIMARY KEY (FBranchID, FTypeID, FMonth))"))
            << driver.SchemaSql(QStringLiteral("CREATE TABLE card_balance_type (FCardID %INT NOT NULL PRIMARY KEY, FTypeID %INT NOT NULL)"));
    }
    for (const QString &t : ledgerTables)
        out << QStringLiteral("INSERT INTO card_ledger_build (FTable, FOid, FLayout) VALUES ('%1', %2, %3)")
                   .arg(t, sqlite ? QStringLiteral("0") : QStringLiteral("to_regclass('%1')::oid::bigint").arg(t))
                   .arg(ledgerLayout);
    // The cash parts of all value movements: each card's walk in order, one step per movement.
    const QString part = cashPart(QStringLiteral("s.FKind"), QStringLiteral("s.v"), QStringLiteral("s.paid"),
                                  QStringLiteral("w.bal"), QStringLiteral("w.cash"));
    const QString first = cashPart(QStringLiteral("s.FKind"), QStringLiteral("s.v"), QStringLiteral("s.paid"),
                                   QStringLiteral("0"), QStringLiteral("0"));
    out << driver.SchemaSql(QStringLiteral("CREATE TABLE card_split_seq (FCardID %INT NOT NULL, n %INT NOT NULL, FID %INT NOT NULL, "
                                           "FBranchID %INT NOT NULL, FDate %DT NOT NULL, FKind %INT NOT NULL, v %INT NOT NULL, "
                                           "paid %INT, PRIMARY KEY (FCardID, n))"));
    // All movements read in their order and sorted once: PostgreSQL would otherwise merge the
    // months' card indexes, fetching the rows from the heap in no order.
    if (!sqlite)
        out << QStringLiteral("SET LOCAL enable_indexscan = off");
    out << QStringLiteral("INSERT INTO card_split_seq SELECT m.FCardID, row_number() OVER (PARTITION BY m.FCardID "
                          "ORDER BY m.FDate, m.FID), m.FID, m.FBranchID, m.FDate, m.FKind, m.FValueAdd - m.FValueSpent, m.FPaid "
                          "FROM card_movement m WHERE %1").arg(valueMovement(QStringLiteral("m")));
    // One index probe per step: PostgreSQL would otherwise hash the whole table at every step.
    if (!sqlite)
        out << QStringLiteral("SET LOCAL enable_indexscan = on") << QStringLiteral("ANALYZE card_split_seq")
            << QStringLiteral("SET LOCAL enable_hashjoin = off") << QStringLiteral("SET LOCAL enable_mergejoin = off");
    out << QStringLiteral("INSERT INTO card_value_split (FMoveID, FCardID, FBranchID, FMonth, FDate, FCash, FValueAfter, FCashAfter) "
                          "WITH RECURSIVE walk (card, n, bal, cash, part, id, branch, moved) AS ("
                          "SELECT s.FCardID, s.n, CAST(s.v AS BIGINT), CAST(%1 AS BIGINT), CAST(%1 AS BIGINT), s.FID, s.FBranchID, s.FDate "
                          "FROM card_split_seq s WHERE s.n = 1 "
                          "UNION ALL SELECT s.FCardID, s.n, w.bal + s.v, w.cash + %2, %2, s.FID, s.FBranchID, s.FDate FROM walk w "
                          "JOIN card_split_seq s ON s.FCardID = w.card AND s.n = w.n + 1) "
                          "SELECT id, card, branch, %3, moved, part, bal, cash FROM walk")
               .arg(first, part, monthKey(driver, QStringLiteral("moved")));
    if (!sqlite)
        out << QStringLiteral("SET LOCAL enable_hashjoin = on") << QStringLiteral("SET LOCAL enable_mergejoin = on");
    out << QStringLiteral("DROP TABLE card_split_seq");
    // Running sums over the months of each card and branch, and of each card.
    const QString monthly = QStringLiteral("SELECT m.FCardID, m.FBranchID, %1 AS FMonth, SUM(m.FValueAdd - m.FValueSpent) AS v, "
                                           "SUM(m.FPoints) AS p, SUM(COALESCE(x.FCash, 0)) AS c FROM card_movement m "
                                           "LEFT JOIN card_value_split x ON x.FMoveID = m.FID GROUP BY 1, 2, 3")
                                .arg(monthKey(driver, QStringLiteral("m.FDate")));
    const QString running = QStringLiteral("SUM(v) OVER w AS v, SUM(p) OVER w AS p, SUM(c) OVER w AS c");
    const QString cardRunning = QStringLiteral(
        "INSERT INTO card_balance_card (FCardID, FMonth, FValue, FPoints, FCash) "
        "SELECT FCardID, FMonth, SUM(SUM(v)) OVER w, SUM(SUM(p)) OVER w, SUM(SUM(c)) OVER w FROM %1 m "
        "GROUP BY FCardID, FMonth WINDOW w AS (PARTITION BY FCardID ORDER BY FMonth)");
    const QString perPair = QStringLiteral("WINDOW w AS (PARTITION BY FCardID, FBranchID ORDER BY FMonth)");
    if (sqlite) {
        out << QStringLiteral("INSERT INTO card_balance_month (FCardID, FBranchID, FMonth, FValue, FPoints, FCash) "
                              "SELECT FCardID, FBranchID, FMonth, %1 FROM (%2) m %3").arg(running, monthly, perPair)
            << cardRunning.arg(QStringLiteral("(%1)").arg(monthly))
            << QStringLiteral("INSERT INTO card_balance_branch (FCardID, FBranchID) "
                              "SELECT DISTINCT FCardID, FBranchID FROM card_balance_month");
    } else {
        // The month sums are made once for all three tables, and each card/branch pair is
        // its first month's row.
        out << QStringLiteral("WITH monthly AS MATERIALIZED (%1), "
                              "running AS MATERIALIZED (SELECT FCardID, FBranchID, FMonth, %2, row_number() OVER w AS k FROM monthly %3), "
                              "months AS (INSERT INTO card_balance_month (FCardID, FBranchID, FMonth, FValue, FPoints, FCash) "
                              "SELECT FCardID, FBranchID, FMonth, v, p, c FROM running), "
                              "cards AS (%4) "
                              "INSERT INTO card_balance_branch (FCardID, FBranchID) SELECT FCardID, FBranchID FROM running WHERE k = 1")
                   .arg(monthly, running, perPair, cardRunning.arg(QStringLiteral("monthly")));
    }
    out << QStringLiteral("INSERT INTO card_balance_type (FCardID, FTypeID) SELECT m.FCardID, COALESCE(MIN(c.FTypeID), -1) "
                          "FROM card_movement m LEFT JOIN member_card c ON c.FID = m.FCardID GROUP BY m.FCardID");
    // Estimates for the join below: without them the cash parts' hash is sized for an empty table.
    if (!sqlite)
        out << QStringLiteral("ANALYZE card_balance_type") << QStringLiteral("ANALYZE card_value_split");
    out << QStringLiteral("INSERT INTO card_balance_sum (FBranchID, FTypeID, FMonth, FMoves, FValue, FPoints, FCash) "
                          "SELECT m.FBranchID, r.FTypeID, %1, COUNT(*), SUM(m.FValueAdd - m.FValueSpent), SUM(m.FPoints), "
                          "SUM(COALESCE(x.FCash, 0)) FROM card_movement m JOIN card_balance_type r ON r.FCardID = m.FCardID "
                          "LEFT JOIN card_value_split x ON x.FMoveID = m.FID GROUP BY m.FBranchID, r.FTypeID, %1")
               .arg(monthKey(driver, QStringLiteral("m.FDate")));
    out << keys;
    const QString retypeOld = retypeSql(monthKey(driver, QStringLiteral("m.FDate")), QStringLiteral("OLD.FID"));
    const QString retypeNew = retypeSql(monthKey(driver, QStringLiteral("m.FDate")), QStringLiteral("NEW.FID"));
    if (sqlite) {
        out << QStringLiteral("CREATE TABLE card_balance_replaced (FID INTEGER PRIMARY KEY, FCardID INTEGER NOT NULL, "
                              "FBranchID INTEGER NOT NULL, FMonth INTEGER NOT NULL, FValue INTEGER NOT NULL, "
                              "FPoints INTEGER NOT NULL, FDate TEXT NOT NULL)")
            << sqliteReplaceTriggers(driver);
        out << QStringLiteral("CREATE TRIGGER card_movement_balance_ins AFTER INSERT ON card_movement BEGIN %1END")
                   .arg(sqliteApply(driver, QStringLiteral("NEW"), QStringLiteral("+")))
            << QStringLiteral("CREATE TRIGGER card_movement_balance_del AFTER DELETE ON card_movement BEGIN %1"
                              "DELETE FROM card_balance_replaced WHERE FID = OLD.FID; END")
                   .arg(sqliteApply(driver, QStringLiteral("OLD"), QStringLiteral("-")))
            << QStringLiteral("CREATE TRIGGER card_movement_balance_upd AFTER UPDATE OF FID, FCardID, FBranchID, FDate, FKind, "
                              "FValueAdd, FValueSpent, FPoints, FPaid ON card_movement BEGIN %1%2END")
                   .arg(sqliteApply(driver, QStringLiteral("OLD"), QStringLiteral("-"), QStringLiteral("NEW.FID")),
                        sqliteApply(driver, QStringLiteral("NEW"), QStringLiteral("+")))
            // A REPLACE that removes a card row fires the insert trigger only: it follows NEW.FID.
            << QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON member_card BEGIN %2END").arg(typeTriggers[0], retypeNew)
            << QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON member_card BEGIN %2END").arg(typeTriggers[1], retypeOld)
            << QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE OF FID, FTypeID ON member_card BEGIN %2%3END")
                   .arg(typeTriggers[2], retypeOld, retypeNew);
        return out;
    }
    // One row per card that its writers update before anything else. Every card in the ledger
    // takes a turn in the build: a writer whose snapshot is older than the build then fails on
    // its card's turn (SQLSTATE 40001, retried by the till) instead of making a month row from
    // the ledger it cannot see.
    if (!inPlace)
        out << QStringLiteral("CREATE TABLE card_balance_turn (FCardID BIGINT PRIMARY KEY, FWrites BIGINT NOT NULL)");
    out << QStringLiteral("UPDATE card_balance_turn SET FWrites = FWrites + 1")
        << QStringLiteral("INSERT INTO card_balance_turn (FCardID, FWrites) SELECT DISTINCT FCardID, 1 FROM card_balance_card "
                          "ON CONFLICT (FCardID) DO NOTHING")
        << QStringLiteral(
               "CREATE OR REPLACE FUNCTION card_balance_apply(p_card BIGINT, p_branch BIGINT, p_date TIMESTAMP, p_value BIGINT, "
               "p_points BIGINT, p_moves BIGINT) RETURNS void LANGUAGE plpgsql AS $$\n"
               "DECLARE m INT := %1;\n"
               "BEGIN\n"
               // Writers of one card take turns on its row, so a month row made from the latest
               // earlier one never misses a change written at the same time. At REPEATABLE READ
               // and SERIALIZABLE a writer whose snapshot predates another's change to the card
               // fails here with a serialization error instead of losing that change.
               "  INSERT INTO card_balance_turn (FCardID, FWrites) VALUES (p_card, 1) "
               "ON CONFLICT (FCardID) DO UPDATE SET FWrites = card_balance_turn.FWrites + 1;\n"
               "  %2\n"
               "END $$")
               .arg(monthKey(driver, QStringLiteral("p_date")),
                    applySql(QStringLiteral("p_card"), QStringLiteral("p_branch"), QStringLiteral("m"), QStringLiteral("p_value"),
                             QStringLiteral("p_points"), QStringLiteral("p_moves")))
        << QStringLiteral(
               "CREATE OR REPLACE FUNCTION card_value_resplit(p_id BIGINT, p_card BIGINT, p_date TIMESTAMP) RETURNS void "
               "LANGUAGE plpgsql AS $$\n"
               "BEGIN\n"
               "  %1%2\n"
               "END $$")
               .arg(detachSql(QStringLiteral("p_id")),
                    resplitSql(driver, QStringLiteral("p_card"), QStringLiteral("p_date"), QStringLiteral("p_id")))
        << QStringLiteral(
               "CREATE OR REPLACE FUNCTION card_balance_trigger() RETURNS trigger LANGUAGE plpgsql AS $$\n"
               "BEGIN\n"
               "  IF TG_OP <> 'INSERT' THEN\n"
               "    PERFORM card_balance_apply(OLD.FCardID, OLD.FBranchID, OLD.FDate, OLD.FValueSpent - OLD.FValueAdd, -OLD.FPoints, -1);\n"
               "    PERFORM card_value_resplit(OLD.FID, OLD.FCardID, OLD.FDate);\n"
               "  END IF;\n"
               "  IF TG_OP <> 'DELETE' THEN\n"
               // A partitioned chain's key is (FID, FDate): an id taken on another date would
               // take over that movement's paid part.
               "    IF EXISTS (SELECT 1 FROM card_value_split x WHERE x.FMoveID = NEW.FID AND x.FDate <> NEW.FDate) THEN\n"
               "      RAISE EXCEPTION 'card_movement FID % is taken', NEW.FID USING ERRCODE = 'unique_violation';\n"
               "    END IF;\n"
               "    PERFORM card_balance_apply(NEW.FCardID, NEW.FBranchID, NEW.FDate, NEW.FValueAdd - NEW.FValueSpent, NEW.FPoints, 1);\n"
               "    PERFORM card_value_resplit(NEW.FID, NEW.FCardID, NEW.FDate);\n"
               "  END IF;\n"
               "  RETURN NULL;\n"
               "END $$")
        << QStringLiteral(
               "CREATE OR REPLACE FUNCTION card_balance_truncate() RETURNS trigger LANGUAGE plpgsql AS $$\n"
               "BEGIN\n"
               "  TRUNCATE card_balance_card, card_balance_month, card_balance_branch, card_value_split, card_split_change, "
               "card_balance_sum, card_balance_type;\n"
               "  RETURN NULL;\n"
               "END $$")
        << QStringLiteral(
               "CREATE OR REPLACE FUNCTION card_type_trigger() RETURNS trigger LANGUAGE plpgsql AS $$\n"
               "BEGIN\n"
               // The card's turn first: a writer of its movements sums them under the type it sees.
               "  IF TG_OP <> 'INSERT' THEN\n"
               "    INSERT INTO card_balance_turn (FCardID, FWrites) VALUES (OLD.FID, 1) "
               "ON CONFLICT (FCardID) DO UPDATE SET FWrites = card_balance_turn.FWrites + 1;\n"
               "    %1\n"
               "  END IF;\n"
               "  IF TG_OP <> 'DELETE' THEN\n"
               "    INSERT INTO card_balance_turn (FCardID, FWrites) VALUES (NEW.FID, 1) "
               "ON CONFLICT (FCardID) DO UPDATE SET FWrites = card_balance_turn.FWrites + 1;\n"
               "    %2\n"
               "  END IF;\n"
               "  RETURN NULL;\n"
               "END $$").arg(retypeOld, retypeNew)
        << QStringLiteral("CREATE OR REPLACE TRIGGER member_card_balance AFTER INSERT OR DELETE OR UPDATE OF FID, FTypeID ON member_card "
                          "FOR EACH ROW EXECUTE FUNCTION card_type_trigger()")
        << QStringLiteral("CREATE OR REPLACE TRIGGER card_movement_balance_ins AFTER INSERT ON card_movement "
                          "FOR EACH ROW EXECUTE FUNCTION card_balance_trigger()")
        << QStringLiteral("CREATE OR REPLACE TRIGGER card_movement_balance_del AFTER DELETE ON card_movement "
                          "FOR EACH ROW EXECUTE FUNCTION card_balance_trigger()")
        << QStringLiteral("CREATE OR REPLACE TRIGGER card_movement_balance_upd AFTER UPDATE OF FID, FCardID, FBranchID, FDate, FKind, "
                          "FValueAdd, FValueSpent, FPoints, FPaid ON card_movement FOR EACH ROW EXECUTE FUNCTION card_balance_trigger()")
        << QStringLiteral("CREATE OR REPLACE TRIGGER card_movement_balance_trunc AFTER TRUNCATE ON card_movement "
                          "FOR EACH STATEMENT EXECUTE FUNCTION card_balance_truncate()");
    return out;
}

} // namespace

QStringList LedgerStatements(const DbDriver &driver)
{
    return ledgerStatements(driver, false);
}

QStringList LedgerUpkeepStatements(const DbDriver &driver)
{
    QStringList out;
    // VACUUM marks the pages all-visible, so that seeks never visit the table.
    for (const QString &t : ledgerTables)
        out << (isSqlite(driver) ? QStringLiteral("ANALYZE %1") : QStringLiteral("VACUUM (ANALYZE) %1")).arg(t);
    return out;
}

void BuildLedger(const Database &db)
{
    const bool sqlite = isSqlite(db.Driver());
    const QString lockTimeout = QStringLiteral("SET LOCAL lock_timeout = %1").arg(qint64(db.Connection().LockTimeout()) * 1000);
    // Chains made before the paid part of a movement existed gain it (NULL: all of it paid).
    // Their top-ups take the amount paid from the top-up journal row of the same card, time,
    // branch and amount, where there is exactly one. A transaction of its own: adding a column
    // locks card_movement against reports too, and nothing else may be locked meanwhile.
    const bool hasPaid = db.SelectInt(sqlite
        ? QStringLiteral("SELECT count(*) FROM pragma_table_info('card_movement') WHERE lower(name) = 'fpaid'")
        : QStringLiteral("SELECT count(*) FROM pg_catalog.pg_attribute WHERE attrelid = to_regclass('card_movement') "
                         "AND attname = 'fpaid' AND NOT attisdropped")) == 1;
    if (!hasPaid) {
        db.ExecAll((sqlite ? QStringList() : QStringList{lockTimeout})
                   << db.Driver().SchemaSql(QStringLiteral("ALTER TABLE card_movement ADD COLUMN FPaid %INT"))
                   << QStringLiteral("UPDATE card_movement SET FPaid = (SELECT MIN(t.FPaid) FROM topup t WHERE "
                                     "t.FCardID = card_movement.FCardID AND t.FDate = card_movement.FDate AND "
                                     "t.FBranchID = card_movement.FBranchID AND t.FAmount = card_movement.FValueAdd "
                                     "HAVING COUNT(*) = 1) WHERE FKind = 1"));
    }
    // Writers wait from before the fill until the triggers exist, so that no movement is
    // committed in between and missed; readers do not. SQLite's ExecAll takes the write lock
    // when it begins, and its readers keep their snapshot's tables whatever is dropped.
    QStringList statements;
    if (!sqlite)
        statements << lockTimeout << QStringLiteral("LOCK TABLE card_movement IN SHARE ROW EXCLUSIVE MODE");
    db.ExecAll(statements + ledgerStatements(db.Driver(), !sqlite && HasLedger(db)));
    for (const QString &statement : LedgerUpkeepStatements(db.Driver()))
        db.Exec(statement);
}

QStringList LedgerIndexStatements()
{
    return {QStringLiteral("CREATE INDEX ix_balance_branch_of ON card_balance_branch (FBranchID, FCardID)")};   // a branch's cards
}

bool HasLedger(const Database &db)
{
    const bool sqlite = isSqlite(db.Driver());
    const QStringList tables = ledgerTables.mid(0, ledgerTables.size() - 1);   // without the build record
    const QString sql = sqlite
        ? QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('%1', '%2')")
              .arg(tables.join(QStringLiteral("', '")), rowTriggers.join(QStringLiteral("', '")))
        : QStringLiteral("SELECT (SELECT count(*) FROM pg_catalog.pg_class WHERE oid IN (to_regclass('%1'))) "
                         "+ (SELECT count(*) FROM pg_catalog.pg_trigger WHERE tgrelid = to_regclass('card_movement') "
                         "AND tgname IN ('%2', 'card_movement_balance_trunc'))")
              .arg(tables.join(QStringLiteral("'), to_regclass('")), rowTriggers.join(QStringLiteral("', '")));
    // The tables and the triggers (PostgreSQL has one more, for TRUNCATE).
    if (db.SelectInt(sql) != tables.size() + rowTriggers.size() + (sqlite ? 0 : 1))
        return false;
    // A ledger built before builds were recorded: every rebuild keeps its tables.
    if (db.SelectInt(sqlite ? QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'card_ledger_build'")
                            : QStringLiteral("SELECT count(*) FROM pg_catalog.pg_class WHERE oid = to_regclass('card_ledger_build')")) == 0)
        return true;
    // The build's rows, read in the caller's snapshot: PostgreSQL shows a table created after a
    // snapshot to it, empty. A report older than the first build, or than a build that made the
    // tables anew (their oids changed), sums the movements instead.
    return db.SelectInt(QStringLiteral("SELECT count(*) FROM card_ledger_build WHERE FLayout = %1%2")
                            .arg(ledgerLayout)
                            .arg(sqlite ? QString() : QStringLiteral(" AND FOid = to_regclass(FTable)::oid")))
        == ledgerTables.size();
}

void RequireLedger(const Database &db)
{
    // No ledger, one of an older version, or one built after the report's snapshot began.
    if (!HasLedger(db))
        throw VelError(QStringLiteral("门店数据库没有本版本的储值积分余额账（没有建立，或由旧版本建立），"
                                      "请先运行 velvip-report upgrade-schema"));
}

} // namespace Schema
