#include "Schema.h"

#include "Database.h"
#include "DbDriver.h"
#include "RowCursor.h"
#include "VelError.h"

#include <algorithm>

namespace {

const char *const tables[] = {
    "CREATE TABLE branch (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, "
    "FParentID %INT NOT NULL DEFAULT 0, FTradeType %INT NOT NULL DEFAULT 0)",
    "CREATE TABLE card_type (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE employee (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, "
    "FBranchID %INT, FIsCashier %INT NOT NULL DEFAULT 0)",
    "CREATE TABLE pos (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, FBranchID %INT NOT NULL)",
    "CREATE TABLE customer (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE brand (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE unit (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE aux_prop (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE discount_type (FID %ID, FName %TEXT NOT NULL)",
    "CREATE TABLE member_card (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, "
    "FTypeID %INT NOT NULL, FBirthday %DT, FMobile %TEXT, FTel %TEXT, FAddress %TEXT, "
    "FBranchID %INT NOT NULL, FSalesmanID %INT, FDeleted %INT NOT NULL DEFAULT 0)",
    "CREATE TABLE item (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, FModel %TEXT, "
    "FUnitID %INT NOT NULL, FBrandID %INT, FHelpCode %TEXT, FRetailPrice %INT NOT NULL, FVipPrice %INT NOT NULL)",
    "CREATE TABLE item_barcode (FID %ID, FItemID %INT NOT NULL, FBarCode %CODE NOT NULL UNIQUE, "
    "FUnitID %INT NOT NULL, FCoefficient %INT NOT NULL)",
    "CREATE TABLE sale_bill (FID %ID, FBillNo %CODE NOT NULL UNIQUE, FBranchID %INT NOT NULL, "
    "FPosID %INT, FCashierID %INT, FCustomerID %INT, FCardID %INT, FDate %DT NOT NULL, FReturn %INT NOT NULL)",
    // Lines of returns carry negative quantities and amounts.
    "CREATE TABLE sale_line (FID %ID, FBillID %INT NOT NULL, FLineNo %INT NOT NULL, FItemID %INT NOT NULL, "
    "FAuxID %INT, FUnitID %INT NOT NULL, FBarID %INT, FQty %INT NOT NULL, FPrice %INT NOT NULL, "
    "FSalePrice %INT NOT NULL, FAmount %INT NOT NULL, FSaleAmount %INT NOT NULL, FDiscountID %INT)",
    "CREATE TABLE card_movement (FID %ID, FCardID %INT NOT NULL, FDate %DT NOT NULL, FBranchID %INT NOT NULL, "
    "FKind %INT NOT NULL, FBillNo %CODE, FValueAdd %INT NOT NULL, FValueSpent %INT NOT NULL, "
    "FPoints %INT NOT NULL, FOperatorID %INT, FPaid %INT)",
    "CREATE TABLE topup (FID %ID, FCardID %INT NOT NULL, FDate %DT NOT NULL, FBranchID %INT NOT NULL, "
    "FAmount %INT NOT NULL, FPaid %INT NOT NULL, FOperatorID %INT, FNote %TEXT)",
    "CREATE TABLE gift_redemption (FID %ID, FCardID %INT NOT NULL, FDate %DT NOT NULL, FBranchID %INT NOT NULL, "
    "FItemID %INT NOT NULL, FAuxID %INT, FUnitID %INT NOT NULL, FQty %INT NOT NULL, FPoints %INT NOT NULL)",
};

const char *const indexes[] = {
    "CREATE INDEX ix_sale_bill_date ON sale_bill (FDate)",
    "CREATE INDEX ix_sale_bill_card ON sale_bill (FCardID)",
    // A branch's rows of a period without reading the other branches' (bills, movements,
    // top-ups, gifts below).
    "CREATE INDEX ix_sale_bill_branch ON sale_bill (FBranchID, FDate)",
    "CREATE INDEX ix_sale_line_bill ON sale_line (FBillID, FLineNo)",
    "CREATE INDEX ix_movement_card ON card_movement (FCardID, FDate)",
    "CREATE INDEX ix_movement_date ON card_movement (FDate)",
    "CREATE INDEX ix_movement_branch ON card_movement (FBranchID, FDate)",
    "CREATE INDEX ix_topup_date ON topup (FDate)",
    "CREATE INDEX ix_topup_card ON topup (FCardID)",
    "CREATE INDEX ix_topup_branch ON topup (FBranchID, FDate)",
    "CREATE INDEX ix_gift_date ON gift_redemption (FDate)",
    "CREATE INDEX ix_gift_card ON gift_redemption (FCardID)",
    "CREATE INDEX ix_gift_branch ON gift_redemption (FBranchID, FDate)",
    "CREATE INDEX ix_card_type ON member_card (FTypeID)",
    "CREATE INDEX ix_item_brand ON item (FBrandID)",
    "CREATE INDEX ix_barcode_item ON item_barcode (FItemID)",
    "CREATE INDEX ix_branch_parent ON branch (FParentID)",
};

// The date-time column of each table that has one. Rows hold it in one form only,
// "yyyy-MM-dd HH:mm:ss", so that text comparisons and month keys agree on SQLite.
const QList<QPair<QString, QString>> dateColumns{{QStringLiteral("member_card"), QStringLiteral("FBirthday")},
                                                 {QStringLiteral("sale_bill"), QStringLiteral("FDate")},
                                                 {QStringLiteral("card_movement"), QStringLiteral("FDate")},
                                                 {QStringLiteral("topup"), QStringLiteral("FDate")},
                                                 {QStringLiteral("gift_redemption"), QStringLiteral("FDate")}};

bool isSqlite(const DbDriver &driver)
{
    return driver.Name() == u"SQLite";
}

// The condition a date-time column's values meet. SQLite keeps text: only that form of a real
// day and time reads back unchanged through datetime() (the modifier makes it carry 30 February
// into March; NULL stays NULL). PostgreSQL's TIMESTAMP has the form
// already; four-digit years keep out 'infinity' and dates before Christ.
QString dateForm(const DbDriver &driver, const QString &column)
{
    if (isSqlite(driver))
        return QStringLiteral("%1 IS datetime(%1, '+0 days')").arg(column);
    return QStringLiteral("%1 BETWEEN '0001-01-01 00:00:00' AND '9999-12-31 23:59:59'").arg(column);
}

QString dateCheckName(const QString &table)
{
    return table + QStringLiteral("_date_form");
}

QString dateCheck(const DbDriver &driver, const QString &table)
{
    for (const auto &[t, column] : dateColumns) {
        if (t == table)
            return QStringLiteral("CONSTRAINT %1 CHECK (%2)").arg(dateCheckName(t), dateForm(driver, column));
    }
    return {};
}

// The tables partitioned by month of FDate on a partitioned chain.
const QStringList datedTables{QStringLiteral("sale_bill"), QStringLiteral("sale_line"), QStringLiteral("card_movement"),
                              QStringLiteral("topup"), QStringLiteral("gift_redemption")};

// A dated table's DDL as a partitioned table: PostgreSQL's keys on a partitioned table must
// hold the partition key, so FID is unique with FDate and the bill number loses its own key.
// sale_line takes its bill's date as the last column, after the columns writers already fill.
QString partitionedDdl(const QString &table, QString ddl)
{
    ddl.replace(QStringLiteral("FID %ID"), QStringLiteral("FID %INT NOT NULL"))
        .replace(QStringLiteral("%CODE NOT NULL UNIQUE"), QStringLiteral("%CODE NOT NULL"));
    ddl.chop(1);
    if (table == u"sale_line")
        ddl += QStringLiteral(", FDate %DT NOT NULL");
    return ddl + QStringLiteral(", PRIMARY KEY (FID, FDate)) PARTITION BY RANGE (FDate)");
}

// add_month_partitions(first, count [, keys]) creates the month partitions of every dated
// table from first's month on, count months, leaving existing ones alone, and returns how many
// it created. Partitions are named <table>_yyyymm. add_line_keys() gives every month of
// sale_line that lacks it the foreign key (FBillID, FDate) to the same month of sale_bill: a
// key per month checks a month against a month when it is added to loaded rows, where one
// key on the parents would check every month of lines against all the bills. Bulk loaders
// create the months without keys (keys = false) and add them after loading.
QStringList partitionFunctions()
{
    return {QStringLiteral(
                "CREATE OR REPLACE FUNCTION add_line_keys() RETURNS INT LANGUAGE plpgsql AS $$\n"
                "DECLARE part TEXT; made INT := 0;\n"
                "BEGIN\n"
                "  FOR part IN SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid\n"
                "      WHERE i.inhparent = 'sale_line'::regclass AND NOT EXISTS\n"
                "        (SELECT 1 FROM pg_constraint k WHERE k.conrelid = c.oid AND k.contype = 'f') ORDER BY 1 LOOP\n"
                "    EXECUTE format('ALTER TABLE %I ADD FOREIGN KEY (FBillID, FDate) REFERENCES %I (FID, FDate) ON UPDATE CASCADE',\n"
                "                   part, 'sale_bill' || substr(part, length('sale_line') + 1));\n"
                "    made := made + 1;\n"
                "  END LOOP;\n"
                "  RETURN made;\n"
                "END $$"),
            QStringLiteral(
                "CREATE OR REPLACE FUNCTION add_month_partitions(p_first DATE, p_count INT, p_keys BOOLEAN DEFAULT TRUE) "
                "RETURNS INT LANGUAGE plpgsql AS $$\n"
                "DECLARE m DATE; t TEXT; part TEXT; made INT := 0;\n"
                "BEGIN\n"
                "  FOR i IN 0 .. p_count - 1 LOOP\n"
                "    m := (date_trunc('month', p_first) + make_interval(months => i))::DATE;\n"
                "    FOREACH t IN ARRAY ARRAY['%1'] LOOP\n"
                "      part := t || '_' || to_char(m, 'YYYYMM');\n"
                "      IF to_regclass(part) IS NULL THEN\n"
                "        EXECUTE format('CREATE TABLE %I PARTITION OF %I FOR VALUES FROM (%L) TO (%L)',\n"
                "                       part, t, m, (m + INTERVAL '1 month')::DATE);\n"
                "        made := made + 1;\n"
                "      END IF;\n"
                "    END LOOP;\n"
                "  END LOOP;\n"
                "  IF p_keys THEN\n"
                "    PERFORM add_line_keys();\n"
                "  END IF;\n"
                "  RETURN made;\n"
                "END $$")
                .arg(datedTables.join(QStringLiteral("', '")))};
}

} // namespace

namespace Schema {

QStringList TableStatements(const DbDriver &driver, const std::optional<MonthlyPartitions> &partitions)
{
    if (partitions && isSqlite(driver))
        throw VelError(QStringLiteral("按月分区只适用于 PostgreSQL 数据库"));
    QStringList out;
    for (const char *ddl : tables) {
        QString text = QString::fromUtf8(ddl);
        const QString table = text.section(u' ', 2, 2);
        if (const QString check = dateCheck(driver, table); !check.isEmpty()) {
            text.chop(1);
            text += QStringLiteral(", ") + check + QStringLiteral(")");
        }
        if (partitions && datedTables.contains(table))
            text = partitionedDdl(table, text);
        out << driver.SchemaSql(text);
    }
    if (partitions) {
        const QDate first(partitions->first.year(), partitions->first.month(), 1);
        const int months = (partitions->last.year() - first.year()) * 12 + partitions->last.month() - first.month() + 1;
        out << partitionFunctions()
            << QStringLiteral("SELECT add_month_partitions(DATE '%1', %2, FALSE)").arg(first.toString(Qt::ISODate)).arg(std::max(months, 1));
    }
    return out;
}

QStringList IndexStatements(const DbDriver &driver, bool partitioned)
{
    QStringList out;
    for (const char *ddl : indexes)
        out << driver.SchemaSql(QString::fromUtf8(ddl));
    // Dated lines: a B-tree on the date serves ranges shorter than their month (a branch-week
    // of 10903 in about half the time of no index; BRIN was in between: bench/README.md).
    if (partitioned)
        out << QStringLiteral("CREATE INDEX ix_sale_line_date ON sale_line (FDate)") << QStringLiteral("SELECT add_line_keys()");
    return out;
}

QStringList PartitionStatements(const DbDriver &driver, const MonthlyPartitions &partitions)
{
    QStringList out;
    // The old tables step aside with their primary keys, whose names the new ones take.
    for (const QString &t : datedTables)
        out << QStringLiteral("ALTER TABLE %1 RENAME TO %1_unpartitioned").arg(t)
            << QStringLiteral("ALTER INDEX %1_pkey RENAME TO %1_unpartitioned_pkey").arg(t);
    for (const QString &ddl : TableStatements(driver, partitions)) {
        if (!ddl.startsWith(QStringLiteral("CREATE TABLE ")) || datedTables.contains(ddl.section(u' ', 2, 2)))
            out << ddl;
    }
    for (const QString &t : datedTables) {
        out << (t == u"sale_line"
                    ? QStringLiteral("INSERT INTO sale_line SELECT l.*, b.FDate FROM sale_line_unpartitioned l "
                                     "JOIN sale_bill_unpartitioned b ON b.FID = l.FBillID")
                    : QStringLiteral("INSERT INTO %1 SELECT * FROM %1_unpartitioned").arg(t));
    }
    for (const QString &t : datedTables)
        out << QStringLiteral("DROP TABLE %1_unpartitioned").arg(t);
    for (const QString &ddl : IndexStatements(driver, true)) {
        if (!ddl.startsWith(QStringLiteral("CREATE INDEX ")) || datedTables.contains(ddl.section(u' ', 4, 4)))
            out << ddl;
    }
    return out;
}

bool HasDatedLines(const Database &db)
{
    if (isSqlite(db.Driver()))
        return false;
    return db.SelectInt(QStringLiteral("SELECT count(*) FROM pg_catalog.pg_attribute WHERE attrelid = to_regclass('sale_line') "
                                       "AND attname = 'fdate' AND NOT attisdropped")) == 1;
}

void AddMissingIndexes(const Database &db)
{
    const DbDriver &driver = db.Driver();
    const QString exists = isSqlite(driver)
                               ? QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = '%1'")
                               : QStringLiteral("SELECT count(*) FROM pg_catalog.pg_class WHERE oid = to_regclass('%1')");
    for (const QString &ddl : IndexStatements(driver, HasDatedLines(db)) + (HasLedger(db) ? LedgerIndexStatements() : QStringList())) {
        if (!ddl.startsWith(QStringLiteral("CREATE INDEX ")))
            continue;
        const QString name = ddl.section(u' ', 2, 2).toLower();
        if (db.SelectInt(exists.arg(name)) == 0)
            db.Exec(ddl);
    }
}

void AddDateChecks(const Database &db)
{
    const DbDriver &driver = db.Driver();
    auto refuse = [&](const QString &table, const QString &column) {
        auto rows = db.Select(QStringLiteral("SELECT %1, count(*) OVER () FROM %2 WHERE NOT (%3) LIMIT 1")
                                  .arg(driver.DateTimeText(column), table, dateForm(driver, column)));
        if (!rows->Next())
            return;
        throw VelError(QStringLiteral("表 %1 有 %2 行的 %3 不是“yyyy-MM-dd HH:mm:ss”形式的日期时间（例如“%4”），请先改正这些行")
                           .arg(table).arg(rows->Int(1)).arg(column, rows->Text(0).toString()));
    };
    if (!isSqlite(driver)) {
        // One table a transaction: adding a constraint locks its table against readers for a
        // moment, and one lock at a time cannot deadlock with a report. The rows are checked
        // afterwards without that lock.
        for (const auto &[table, column] : dateColumns) {
            const QString where = QStringLiteral("FROM pg_catalog.pg_constraint WHERE conrelid = to_regclass('%1') AND conname = '%2'")
                                      .arg(table, dateCheckName(table));
            if (db.SelectInt(QStringLiteral("SELECT count(*) ") + where) == 0)
                db.ExecAll({QStringLiteral("SET LOCAL lock_timeout = %1").arg(qint64(db.Connection().LockTimeout()) * 1000),
                            QStringLiteral("ALTER TABLE %1 ADD %2 NOT VALID").arg(table, dateCheck(driver, table))});
            if (db.SelectInt(QStringLiteral("SELECT count(*) ") + where + QStringLiteral(" AND NOT convalidated")) == 0)
                continue;
            refuse(table, column);
            db.Exec(QStringLiteral("ALTER TABLE %1 VALIDATE CONSTRAINT %2").arg(table, dateCheckName(table)));
        }
        return;
    }
    // SQLite adds a constraint by copying the table into a new one that has it, then putting
    // back its indexes and triggers; all tables in one write transaction.
    QStringList statements;
    for (const auto &[table, column] : dateColumns) {
        auto def = db.Select(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = '%1'").arg(table));
        const QString sql = def->Next() ? def->Text(0).toString().trimmed() : QString();
        def.reset();
        if (sql.contains(dateCheckName(table)))
            continue;
        const qsizetype open = sql.indexOf(u'(');
        if (open < 0 || !sql.endsWith(u')'))
            throw VelError(QStringLiteral("无法读取表 %1 的定义").arg(table));
        refuse(table, column);
        const QString copy = table + QStringLiteral("_with_date_form");
        statements << QStringLiteral("CREATE TABLE %1 %2, %3)").arg(copy, sql.mid(open).chopped(1), dateCheck(driver, table))
                   << QStringLiteral("INSERT INTO %1 SELECT * FROM %2").arg(copy, table);
        QStringList dependent;
        for (auto rows = db.Select(QStringLiteral("SELECT sql FROM sqlite_master WHERE tbl_name = '%1' AND type IN ('index', 'trigger') "
                                                  "AND sql IS NOT NULL ORDER BY type").arg(table));
             rows->Next();)
            dependent << rows->Text(0).toString();
        statements << QStringLiteral("DROP TABLE %1").arg(table) << QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(copy, table)
                   << dependent;
    }
    if (!statements.isEmpty())
        db.ExecAll(statements);
}

QStringList TableNames()
{
    return {QStringLiteral("branch"), QStringLiteral("card_type"), QStringLiteral("employee"),
            QStringLiteral("pos"), QStringLiteral("customer"), QStringLiteral("brand"),
            QStringLiteral("unit"), QStringLiteral("aux_prop"), QStringLiteral("discount_type"),
            QStringLiteral("member_card"), QStringLiteral("item"), QStringLiteral("item_barcode"),
            QStringLiteral("sale_bill"), QStringLiteral("sale_line"), QStringLiteral("card_movement"),
            QStringLiteral("topup"), QStringLiteral("gift_redemption")};
}

QString MovementKindName(qint64 kind)
{
    switch (kind) {
    case TopUp: return QStringLiteral("充值");
    case Payment: return QStringLiteral("消费");
    case Refund: return QStringLiteral("退货");
    case PointsEarned: return QStringLiteral("积分累计");
    case PointsAdjusted: return QStringLiteral("积分调整");
    case GiftRedeemed: return QStringLiteral("礼品兑换");
    case CashOut: return QStringLiteral("退卡");
    case ValueAdjusted: return QStringLiteral("储值调整");
    case WrittenOff: return QStringLiteral("注销");
    case PointsExpired: return QStringLiteral("积分过期");
    }
    return QString();
}

} // namespace Schema
