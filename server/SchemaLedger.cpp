// The balance ledger beside card_movement: closing balances per card, branch and month.
//
// card_balance_month holds, for every card, branch and month in which the card moved at that
// branch, the sum of all its movements there up to the end of that month. The balance before
// any month is then, per card and branch, the row of the latest earlier month: one index seek
// each, however many years lie before it. card_balance_branch lists the card/branch pairs so
// a reader finds them without scanning the months.
//
// A movement written in month M (back-dated or not) creates the row of M from the latest
// earlier row if it is missing and adds its amounts to every row from M on; a deleted one
// subtracts them; an update does both. The rows therefore always equal the sums of the
// movements, whoever writes them.
#include "Schema.h"

#include "Database.h"
#include "DbDriver.h"
#include "RowCursor.h"

#include <QSqlError>

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

// The balance a card had at a branch before month `month`: the latest earlier row.
QString previous(const QString &column, const QString &card, const QString &branch, const QString &month)
{
    return QStringLiteral("COALESCE((SELECT b.%1 FROM card_balance_month b WHERE b.FCardID = %2 AND b.FBranchID = %3 "
                          "AND b.FMonth < %4 ORDER BY b.FMonth DESC LIMIT 1), 0)")
        .arg(column, card, branch, month);
}

// The row triggers, named alike on both engines.
const QStringList rowTriggers{QStringLiteral("card_movement_balance_ins"), QStringLiteral("card_movement_balance_del"),
                                 QStringLiteral("card_movement_balance_upd")};

// SQLite trigger statements applying the movement `row` (NEW or OLD) with `sign`.
QString sqliteApply(const DbDriver &driver, const QString &row, const QString &sign)
{
    const QString card = row + QStringLiteral(".FCardID"), branch = row + QStringLiteral(".FBranchID");
    const QString month = monthKey(driver, row + QStringLiteral(".FDate"));
    return QStringLiteral(
               "INSERT OR IGNORE INTO card_balance_branch (FCardID, FBranchID) VALUES (%1, %2); "
               "INSERT OR IGNORE INTO card_balance_month (FCardID, FBranchID, FMonth, FValue, FPoints) "
               "SELECT %1, %2, %3, %4, %5; "
               "UPDATE card_balance_month SET FValue = FValue %6 (%7.FValueAdd - %7.FValueSpent), "
               "FPoints = FPoints %6 %7.FPoints WHERE FCardID = %1 AND FBranchID = %2 AND FMonth >= %3; ")
        .arg(card, branch, month, previous(QStringLiteral("FValue"), card, branch, month),
             previous(QStringLiteral("FPoints"), card, branch, month), sign, row);
}

} // namespace

namespace Schema {

QStringList DropLedgerStatements(const DbDriver &driver)
{
    QStringList out;
    if (isSqlite(driver)) {
        for (const QString &t : rowTriggers)
            out << QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(t);
    } else {
        out << QStringLiteral("DROP FUNCTION IF EXISTS card_balance_trigger() CASCADE")
            << QStringLiteral("DROP FUNCTION IF EXISTS card_balance_truncate() CASCADE")
            << QStringLiteral("DROP FUNCTION IF EXISTS card_balance_apply(BIGINT, BIGINT, TIMESTAMP, BIGINT, BIGINT)");
    }
    out << QStringLiteral("DROP TABLE IF EXISTS card_balance_month") << QStringLiteral("DROP TABLE IF EXISTS card_balance_branch");
    return out;
}

QStringList LedgerStatements(const DbDriver &driver)
{
    const bool sqlite = isSqlite(driver);
    const QString rowidless = sqlite ? QStringLiteral(" WITHOUT ROWID") : QString();
    QStringList out = DropLedgerStatements(driver);
    out << driver.SchemaSql(QStringLiteral("CREATE TABLE card_balance_branch (FCardID %INT NOT NULL, FBranchID %INT NOT NULL, "
                                           "PRIMARY KEY (FCardID, FBranchID))") + rowidless)
        << driver.SchemaSql(QStringLiteral("CREATE TABLE card_balance_month (FCardID %INT NOT NULL, FBranchID %INT NOT NULL, "
                                           "FMonth %INT NOT NULL, FValue %INT NOT NULL, FPoints %INT NOT NULL, "
                                           "PRIMARY KEY (FCardID, FBranchID, FMonth))") + rowidless);
    // Running sums over the months of each card and branch.
    out << QStringLiteral("INSERT INTO card_balance_month (FCardID, FBranchID, FMonth, FValue, FPoints) "
                          "SELECT FCardID, FBranchID, FMonth, "
                          "SUM(v) OVER (PARTITION BY FCardID, FBranchID ORDER BY FMonth), "
                          "SUM(p) OVER (PARTITION BY FCardID, FBranchID ORDER BY FMonth) "
                          "FROM (SELECT FCardID, FBranchID, %1 AS FMonth, SUM(FValueAdd - FValueSpent) AS v, SUM(FPoints) AS p "
                          "FROM card_movement GROUP BY 1, 2, 3) m")
               .arg(monthKey(driver, QStringLiteral("FDate")))
        << QStringLiteral("INSERT INTO card_balance_branch (FCardID, FBranchID) "
                          "SELECT DISTINCT FCardID, FBranchID FROM card_balance_month");
    if (sqlite) {
        out << QStringLiteral("CREATE TRIGGER card_movement_balance_ins AFTER INSERT ON card_movement BEGIN %1END")
                   .arg(sqliteApply(driver, QStringLiteral("NEW"), QStringLiteral("+")))
            << QStringLiteral("CREATE TRIGGER card_movement_balance_del AFTER DELETE ON card_movement BEGIN %1END")
                   .arg(sqliteApply(driver, QStringLiteral("OLD"), QStringLiteral("-")))
            << QStringLiteral("CREATE TRIGGER card_movement_balance_upd AFTER UPDATE OF FCardID, FBranchID, FDate, FValueAdd, "
                              "FValueSpent, FPoints ON card_movement BEGIN %1%2END")
                   .arg(sqliteApply(driver, QStringLiteral("OLD"), QStringLiteral("-")),
                        sqliteApply(driver, QStringLiteral("NEW"), QStringLiteral("+")));
        return out;
    }
    const QString month = QStringLiteral("m");
    out << QStringLiteral(
               "CREATE FUNCTION card_balance_apply(p_card BIGINT, p_branch BIGINT, p_date TIMESTAMP, p_value BIGINT, "
               "p_points BIGINT) RETURNS void LANGUAGE plpgsql AS $$\n"
               "DECLARE m INT := %1;\n"
               "BEGIN\n"
               "  INSERT INTO card_balance_branch (FCardID, FBranchID) VALUES (p_card, p_branch) ON CONFLICT DO NOTHING;\n"
               // Writers of one card and branch take turns: a new month row and a back-dated
               // change written at the same time never miss each other.
               "  PERFORM 1 FROM card_balance_branch WHERE FCardID = p_card AND FBranchID = p_branch FOR UPDATE;\n"
               "  INSERT INTO card_balance_month (FCardID, FBranchID, FMonth, FValue, FPoints)\n"
               "    SELECT p_card, p_branch, m, %2, %3 ON CONFLICT DO NOTHING;\n"
               "  UPDATE card_balance_month SET FValue = FValue + p_value, FPoints = FPoints + p_points\n"
               "    WHERE FCardID = p_card AND FBranchID = p_branch AND FMonth >= m;\n"
               "END $$")
               .arg(monthKey(driver, QStringLiteral("p_date")),
                    previous(QStringLiteral("FValue"), QStringLiteral("p_card"), QStringLiteral("p_branch"), month),
                    previous(QStringLiteral("FPoints"), QStringLiteral("p_card"), QStringLiteral("p_branch"), month))
        << QStringLiteral(
               "CREATE FUNCTION card_balance_trigger() RETURNS trigger LANGUAGE plpgsql AS $$\n"
               "BEGIN\n"
               "  IF TG_OP <> 'INSERT' THEN\n"
               "    PERFORM card_balance_apply(OLD.FCardID, OLD.FBranchID, OLD.FDate, OLD.FValueSpent - OLD.FValueAdd, -OLD.FPoints);\n"
               "  END IF;\n"
               "  IF TG_OP <> 'DELETE' THEN\n"
               "    PERFORM card_balance_apply(NEW.FCardID, NEW.FBranchID, NEW.FDate, NEW.FValueAdd - NEW.FValueSpent, NEW.FPoints);\n"
               "  END IF;\n"
               "  RETURN NULL;\n"
               "END $$")
        << QStringLiteral(
               "CREATE FUNCTION card_balance_truncate() RETURNS trigger LANGUAGE plpgsql AS $$\n"
               "BEGIN\n"
               "  TRUNCATE card_balance_month, card_balance_branch;\n"
               "  RETURN NULL;\n"
               "END $$")
        << QStringLiteral("CREATE TRIGGER card_movement_balance_ins AFTER INSERT ON card_movement "
                          "FOR EACH ROW EXECUTE FUNCTION card_balance_trigger()")
        << QStringLiteral("CREATE TRIGGER card_movement_balance_del AFTER DELETE ON card_movement "
                          "FOR EACH ROW EXECUTE FUNCTION card_balance_trigger()")
        << QStringLiteral("CREATE TRIGGER card_movement_balance_upd AFTER UPDATE OF FCardID, FBranchID, FDate, FValueAdd, "
                          "FValueSpent, FPoints ON card_movement FOR EACH ROW EXECUTE FUNCTION card_balance_trigger()")
        << QStringLiteral("CREATE TRIGGER card_movement_balance_trunc AFTER TRUNCATE ON card_movement "
                          "FOR EACH STATEMENT EXECUTE FUNCTION card_balance_truncate()");
    return out;
}

void BuildLedger(const Database &db)
{
    QSqlDatabase sql = db.Sql();
    if (!sql.transaction())
        db.Fail(QStringLiteral("无法开始事务"), sql.lastError().text());
    try {
        for (const QString &statement : LedgerStatements(db.Driver()))
            db.Exec(statement);
    } catch (...) {
        sql.rollback();
        throw;
    }
    if (!sql.commit())
        db.Fail(QStringLiteral("无法提交事务"), sql.lastError().text());
}

bool HasLedger(const Database &db)
{
    const bool sqlite = isSqlite(db.Driver());
    const QString sql = sqlite
        ? QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('card_balance_month', 'card_balance_branch', "
                         "'%1')").arg(rowTriggers.join(QStringLiteral("', '")))
        : QStringLiteral("SELECT (SELECT count(*) FROM pg_catalog.pg_class WHERE oid IN "
                         "(to_regclass('card_balance_month'), to_regclass('card_balance_branch'))) "
                         "+ (SELECT count(*) FROM pg_catalog.pg_trigger WHERE tgrelid = to_regclass('card_movement') "
                         "AND tgname IN ('%1', 'card_movement_balance_trunc'))").arg(rowTriggers.join(QStringLiteral("', '")));
    auto cursor = db.Select(sql);
    // Two tables and the triggers (PostgreSQL has one more, for TRUNCATE).
    return cursor->Next() && cursor->Int(0) == (sqlite ? 5 : 6);
}

} // namespace Schema
