// The balance ledger behind report 10901 on a chain of several years, per engine: the report
// read through the ledger equals the report summed from the movements, after writers change
// the history behind its back, and after upgrade-schema rebuilds it.
#include "ConnectionText.h"
#include "Database.h"
#include "DemoChain.h"
#include "ReadSessions.h"
#include "Recordset.h"
#include "Schema.h"
#include "TestDatabases.h"
#include "UpgradeSchema.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

void generate(const QString &props)
{
    DemoOptions o;
    o.members = 60, o.items = 30, o.days = 3 * 365 + 10, o.linesPerDay = 15, o.seed = 17;   // 2024-01-01 .. 2027-01-10
    TestDatabases::GenerateDemo(props, o);
}

// Months from the chain's first to one after its last, with filters that select by card, by
// branch (the balances of other branches left out) and by activity.
const QList<QPair<int, int>> months{{2024, 1}, {2024, 3}, {2025, 2}, {2025, 5}, {2026, 7}, {2027, 1}, {2027, 2}};
const QList<Filter> filters{
    {},
    {{"BBranchNum", "002"}, {"EBranchNum", "004"}},
    {{"BVipNum", "8000005"}, {"EVipNum", "8000020"}, {"ShowVipDo", 1}},
    {{"EBranchNum", "001"}, {"ShowSumOnly", 1}},
    {{"BBranchNum", "002"}, {"EBranchNum", "004"}, {"ShowVipDo", 1}},
};

// Movements written behind the ledger's back, the way another program would: back-dated by
// years, at a branch the card never used or that does not exist, after the last month, moved
// across months and branches, and deleted.
const char *const otherWriters[] = {
    "INSERT INTO card_movement VALUES (900001, 3, '2024-03-15 10:00:00', 4, 1, 'CZX1', 12345, 0, 0, 1, NULL)",
    "INSERT INTO card_movement VALUES (900002, 7, '2025-05-05 09:30:00', 1, 5, 'TZX1', 0, 0, 777, 1, NULL), "
    "(900003, 7, '2025-05-06 09:30:00', 1, 2, 'XSX1', 0, 500, 0, 1, NULL)",
    "INSERT INTO card_movement VALUES (900004, 12, '2027-02-03 08:00:00', 3, 1, 'CZX2', 5000, 0, 0, 1, NULL)",
    // A branch that is not in the branch table: counted without a branch range only.
    "INSERT INTO card_movement VALUES (900005, 4, '2025-01-09 10:00:00', 999, 1, 'CZX3', 2000, 0, 0, 1, NULL)",
    "UPDATE card_movement SET FDate = '2026-07-20 12:00:00', FBranchID = 5, FValueAdd = FValueAdd + 100 "
    "WHERE FID = (SELECT MIN(FID) FROM card_movement WHERE FKind = 1)",
    "UPDATE card_movement SET FPoints = FPoints - 33 WHERE FID IN (SELECT FID FROM card_movement WHERE FKind = 4 "
    "AND FCardID = 2 ORDER BY FID LIMIT 3)",
    "DELETE FROM card_movement WHERE FID IN (SELECT FID FROM card_movement WHERE FKind = 2 AND FCardID = 1 "
    "ORDER BY FID DESC LIMIT 2)",
};

} // namespace

class tst_ServerLedger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_dbs.Create(QStringLiteral("ledger"), generate, &error), qPrintable(error));
    }

    void cleanupTestCase() { m_dbs.Drop(); }

    void ledgerEqualsMovements_data() { m_dbs.AddRows(); }

    void ledgerEqualsMovements()
    {
        QFETCH(int, engine);
        const QString props = m_dbs.Engines()[size_t(engine)].props;
        QVERIFY(Schema::HasLedger(ReadSessions::For(props)));
        const QStringList generated = ledgerRows(engine);

        QStringList writes;
        for (const char *sql : otherWriters)
            writes << QString::fromUtf8(sql);
        exec(engine, writes);
        const QStringList fast = ledgerRows(engine);
        QVERIFY(fast != generated);

        // Without the ledger the report sums the movements: the reference.
        exec(engine, Schema::DropLedgerStatements(ReadSessions::For(props).Driver()));
        QVERIFY(!Schema::HasLedger(ReadSessions::For(props)));
        const QStringList reference = ledgerRows(engine);
        QCOMPARE(fast, reference);

        QCOMPARE(UpgradeSchemaMain({QStringLiteral("--props"), props}), 0);
        QVERIFY(Schema::HasLedger(ReadSessions::For(props)));
        QCOMPARE(ledgerRows(engine), reference);
        // A ledger from before builds were recorded is read, and rebuilt in place.
        exec(engine, {QStringLiteral("DROP TABLE card_ledger_build")});
        QVERIFY(Schema::HasLedger(ReadSessions::For(props)));
        QCOMPARE(UpgradeSchemaMain({QStringLiteral("--props"), props}), 0);
        QCOMPARE(ledgerRows(engine), reference);
    }

    void upgradeArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("no_props") << QStringList{} << 2;
        QTest::newRow("empty_props") << QStringList{"--props", " "} << 2;
        QTest::newRow("value_missing") << QStringList{"--props"} << 2;
        QTest::newRow("unknown_option") << QStringList{"--out", "x"} << 2;
        QTest::newRow("not_a_chain") << QStringList{"--props", "Driver=SQLite;Database=%1"} << 1;
        QTest::newRow("no_driver") << QStringList{"--props", "Database=x.sqlite"} << 1;
    }

    void upgradeArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QTemporaryDir dir;
        for (QString &a : args)
            a.replace(QStringLiteral("%1"), dir.filePath(QStringLiteral("other.sqlite")));
        QCOMPARE(UpgradeSchemaMain(args), status);
    }

private:
    // Every month and filter of report 10901, for head office and a branch, one line per row with
    // every field.
    QStringList ledgerRows(int engine) const
    {
        QStringList out;
        for (const BranchScope &scope : {BranchScope::HeadOffice(), BranchScope::Branch(QStringLiteral("002"))}) {
            for (const auto &[year, month] : months) {
                for (const Filter &extra : filters) {
                    const RecordsetPtr rs = TestDatabases::RunOn(m_dbs.Engines()[size_t(engine)].props, 10901,
                                                                 Filter{{"Year", year}, {"Month", month}} + extra, scope);
                    out << QStringLiteral("-- %1 %2-%3, %4 filter terms").arg(scope.Number()).arg(year).arg(month).arg(extra.size());
                    out << TestDatabases::RowLines(rs);
                }
            }
        }
        return out;
    }

    void exec(int engine, const QStringList &statements) const
    {
        auto db = Database::OpenForWriting(m_dbs.Engines()[size_t(engine)].props);
        for (const QString &sql : statements)
            db->Exec(sql);
    }
    TestDatabases m_dbs;
};

QTEST_GUILESS_MAIN(tst_ServerLedger)
#include "tst_serverledger.moc"
