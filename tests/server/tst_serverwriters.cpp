// Writers beside the reports, per engine: a report reads one moment of the chain while a writer
// moves a movement, and the balance ledger equals the movements after every SQL statement form,
// concurrent writers at each isolation level and a first upgrade-schema during writes.
#include "Database.h"
#include "Recordset.h"
#include "RowCursor.h"
#include "Schema.h"
#include "TestDatabases.h"
#include "UpgradeSchema.h"
#include "VelError.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <random>
#include <thread>

namespace {

const char *const chain[] = {
    "INSERT INTO branch VALUES (1,'000','总部',0,0),(2,'001','一店',0,0),(3,'002','二店',0,0)",
    "INSERT INTO card_type VALUES (1,'01','普通卡')",
    "INSERT INTO member_card VALUES (1,'8001','张三',1,NULL,NULL,NULL,NULL,2,NULL,0),"
    "(2,'8002','李四',1,NULL,NULL,NULL,NULL,3,NULL,0),(3,'8003','王五',1,NULL,NULL,NULL,NULL,2,NULL,0)",
    "INSERT INTO card_movement VALUES (1,1,'2024-03-10 10:00:00',2,1,'CZ1',50000,0,0,NULL,NULL),"
    "(2,1,'2024-05-02 10:00:00',3,2,'XS2',0,12000,1200,NULL,NULL),(3,2,'2024-04-20 10:00:00',3,1,'CZ3',30000,0,0,NULL,NULL),"
    "(4,2,'2024-06-01 00:00:00',2,4,'XS4',0,0,800,NULL,NULL),(5,3,'2024-05-31 23:59:59',2,1,'CZ5',7000,0,0,NULL,NULL),"
    "(100,1,'2024-04-15 10:00:00',2,1,'CZ100',100000,0,0,NULL,NULL)",
};

// The small chain above, with the balance ledger or without (the reports then sum the
// movements); on PostgreSQL `partitioned` makes card_movement monthly partitions of 2024.
void fill(const QString &props, bool ledger, bool partitioned = false)
{
    auto db = Database::OpenForWriting(props);
    const bool sqlite = db->Driver().Name() == u"SQLite";

    if (sqlite)
        db->Exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    for (const QString &ddl : Schema::TableStatements(db->Driver(), partitioned && !sqlite
                                                                         ? std::optional(Schema::MonthlyPartitions{QDate(2024, 1, 1), QDate(2024, 12, 1)})
                                                                         : std::nullopt))
        db->Exec(ddl);

    if (ledger)
        db->ExecAll(Schema::LedgerStatements(db->Driver()));

    for (const char *sql : chain)
        db->Exec(QString::fromUtf8(sql));
}

// Ledger rows that differ from the sums of the movements up to their month, card months with
// movements but no row (card, branch or -1 for the card's rows, month), and the month's sums per
// branch and card type that differ from the movements; empty when exact.
QStringList ledgerErrors(const QString &props)
{
    auto db = Database::OpenForWriting(props);
    // Value, points and paid part per card (and branch) and month against the movements and
    // their paid parts; then every value movement's paid part and the card's running balance and
    // paid part after it, in the order date, id.
    const QString sql = QStringLiteral(
        "WITH m AS (SELECT n.FCardID c, n.FBranchID b, CAST(substr(%1, 1, 4) || substr(%1, 6, 2) AS INTEGER) mo, "
        "n.FValueAdd - n.FValueSpent v, n.FPoints p, COALESCE(x.FCash, 0) k FROM card_movement n "
        "LEFT JOIN card_value_split x ON x.FMoveID = n.FID), "
        "g AS (SELECT c, b, mo, SUM(v) v, SUM(p) p, SUM(k) k FROM (SELECT * FROM m UNION ALL SELECT c, -1, mo, v, p, k FROM m) a "
        "GROUP BY c, b, mo), "
        "l AS (SELECT FCardID c, FBranchID b, FMonth mo, FValue v, FPoints p, FCash k FROM card_balance_month "
        "UNION ALL SELECT FCardID, -1, FMonth, FValue, FPoints, FCash FROM card_balance_card), "
        "r AS (SELECT m.FID, m.FValueAdd - m.FValueSpent v, x.FMoveID, x.FValueAfter, x.FCashAfter, "
        "SUM(m.FValueAdd - m.FValueSpent) OVER w rv, SUM(x.FCash) OVER w rk FROM card_movement m "
        "LEFT JOIN card_value_split x ON x.FMoveID = m.FID WHERE m.FValueAdd <> 0 OR m.FValueSpent <> 0 OR m.FKind = 1 "
        "WINDOW w AS (PARTITION BY m.FCardID ORDER BY m.FDate, m.FID)) "
        "SELECT l.c, l.b, l.mo, l.v, l.p, COALESCE(SUM(g.v), 0), COALESCE(SUM(g.p), 0) FROM l "
        "LEFT JOIN g ON g.c = l.c AND g.b = l.b AND g.mo <= l.mo GROUP BY l.c, l.b, l.mo, l.v, l.p, l.k "
        "HAVING l.v <> COALESCE(SUM(g.v), 0) OR l.p <> COALESCE(SUM(g.p), 0) OR l.k <> COALESCE(SUM(g.k), 0) "
        "UNION ALL SELECT c, b, mo, NULL, NULL, NULL, NULL FROM g "
        "WHERE NOT EXISTS (SELECT 1 FROM l WHERE l.c = g.c AND l.b = g.b AND l.mo = g.mo) "
        "UNION ALL SELECT FID, -2, v, FValueAfter, FCashAfter, rv, rk FROM r "
        "WHERE FMoveID IS NULL OR FValueAfter <> rv OR FCashAfter <> rk "
        "UNION ALL SELECT FMoveID, -3, NULL, NULL, NULL, NULL, NULL FROM card_value_split x "
        "WHERE NOT EXISTS (SELECT 1 FROM card_movement m WHERE m.FID = x.FMoveID) "
        // The month's sums per branch and card type.
        "UNION ALL SELECT b, -4, mo, t, SUM(n), SUM(v), SUM(k) FROM (SELECT FBranchID b, FTypeID t, FMonth mo, FMoves n, "
        "FValue v, FPoints p, FCash k FROM card_balance_sum UNION ALL SELECT m.b, COALESCE(c.FTypeID, -1), m.mo, -1, -m.v, -m.p, "
        "-m.k FROM m LEFT JOIN member_card c ON c.FID = m.c) d GROUP BY b, t, mo "
        "HAVING SUM(n) <> 0 OR SUM(v) <> 0 OR SUM(p) <> 0 OR SUM(k) <> 0")
                            .arg(db->Driver().DateTimeText(QStringLiteral("n.FDate")));
    QStringList errors;
    for (auto rows = db->Select(sql); rows->Next();) {
        QStringList fields;
        for (int i = 0; i < 7; ++i)
            fields << rows->TextOrNull(i).toString();
        errors << fields.join(u' ');
    }
    return errors;
}

// Writer threads running `statement` until `stop`, each statement in its own transaction
// (`begin` starts it; empty for autocommit). Serialization failures and deadlocks are retried;
// other failures are counted.
struct Writers
{
    std::atomic<bool> stop{false};
    std::atomic<int> commits{0}, retries{0}, failures{0};
    std::vector<std::thread> threads;

    void Start(const QString &props, int count, const QString &begin, const std::function<QString(std::mt19937 &, int)> &statement)
    {
        // Ids that no earlier writers of the test used.
        static int runs = 0;
        const int base = ++runs * 10000000;
        for (int t = 0; t < count; ++t) {
            threads.emplace_back([=, this] {
                auto db = Database::OpenForWriting(props);
                std::mt19937 random(unsigned(t + 1));
                for (int n = 0; !stop; ++n) {
                    try {
                        if (!begin.isEmpty())
                            db->Exec(begin);
                        for (const QString &part : statement(random, base + t * 1000000 + n).split(QStringLiteral("; ")))
                            db->Exec(part);
                        if (!begin.isEmpty())
                            db->Exec(QStringLiteral("COMMIT"));
                        ++commits;
                    } catch (const VelError &e) {
                        try {   // the engine may have ended the transaction itself
                            if (!begin.isEmpty())
                                db->Exec(QStringLiteral("ROLLBACK"));
                        } catch (const VelError &) {
                        }
                        const QString text = e.Description();
                        if (text.contains(u"could not serialize") || text.contains(u"deadlock")) {
                            ++retries;
                        } else if (++failures == 1) {
                            qWarning("%s", qPrintable(text));
                        }
                    }
                }
            });
        }
    }
    ~Writers() { Finish(); }

    void Finish()
    {
        stop = true;
        for (std::thread &t : threads)
            t.join();
        threads.clear();
    }
};

} // namespace

class tst_ServerWriters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_ledger.Create(QStringLiteral("writers_ledger"), [](const QString &p) { fill(p, true); }, &error), qPrintable(error));
        QVERIFY2(m_plain.Create(QStringLiteral("writers_plain"), [](const QString &p) { fill(p, false); }, &error), qPrintable(error));
        QVERIFY2(m_parted.Create(QStringLiteral("writers_parted"), [](const QString &p) { fill(p, true, true); }, &error),
                 qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_ledger.Drop();
        m_plain.Drop();
        m_parted.Drop();
    }

    void oneMomentPerReport_data()
    {
        QTest::addColumn<QString>("props");
        for (const TestDatabases *dbs : {&m_ledger, &m_plain}) {
            for (const TestDatabases::Engine &e : dbs->Engines())
                QTest::newRow(qPrintable(e.name + QLatin1String(dbs == &m_ledger ? "_ledger" : "_movements"))) << e.props;
        }
    }

    // A writer moves card 8001's 1000.00 top-up between April and May: May's closing stays the same.
    void oneMomentPerReport()
    {
        QFETCH(QString, props);
        const Filter may{{"Year", 2024}, {"Month", 5}, {"BVipNum", "8001"}, {"EVipNum", "8001"}};
        auto closing = [&] {
            const RecordsetPtr rs = TestDatabases::RunOn(props, 10901, may);
            return rs->Value(rs->RecordCount() - 1, QStringLiteral("FResidualCardAmount")).toString();
        };
        const QString expected = closing();
        Writers writer;
        writer.Start(props, 1, QString(), [](std::mt19937 &, int n) {
            return QStringLiteral("UPDATE card_movement SET FDate = '%1' WHERE FID = 100")
                .arg(n % 2 ? QStringLiteral("2024-04-15 10:00:00") : QStringLiteral("2024-05-15 10:00:00"));
        });
        QStringList seen;
        QElapsedTimer timer;
        timer.start();
        int runs = 0;
        for (; timer.elapsed() < 3000; ++runs) {
            const QString c = closing();
            if (c != expected)
                seen << c;
        }
        writer.Finish();
        Database::OpenForWriting(props)->Exec(QStringLiteral("UPDATE card_movement SET FDate = '2024-04-15 10:00:00' WHERE FID = 100"));
        QVERIFY2(writer.commits > 10, qPrintable(QString::number(writer.commits)));
        QVERIFY2(seen.isEmpty(), qPrintable(QStringLiteral("%1 of %2 runs: %3").arg(seen.size()).arg(runs).arg(seen.join(u' '))));
    }

    void statementForms_data()
    {
        // On SQLite FID 5 exists, FID 6 not; PostgreSQL has no OR clauses and gets the forms it has.
        QTest::addColumn<QString>("sqlite");
        QTest::addColumn<QString>("postgresql");
        const QString row = QStringLiteral("(%1, 2, '2024-04-03 09:00:00', 3, 1, 'CZ', 2500, 0, 40, NULL, NULL)");
        // FIDs 5 (taken: ignored or replaced) and 6 to 9 (new, at a card and branch with rows).
        const QList<QPair<const char *, int>> inserts{{"", 6}, {" OR IGNORE", 5}, {" OR REPLACE", 5}, {" OR ABORT", 7},
                                                      {" OR FAIL", 8}, {" OR ROLLBACK", 9}};
        for (const auto &[clause, id] : inserts) {
            const QString sql = QStringLiteral("INSERT%1 INTO card_movement VALUES ").arg(QLatin1String(clause)) + row.arg(id);
            QTest::newRow(QByteArray("insert") + clause) << sql << (*clause ? QString() : sql);
        }
        // Moves movement 3 to another month and branch; OR REPLACE also onto FID 5, which it removes.
        for (const char *clause : {"", " OR IGNORE", " OR ABORT", " OR FAIL", " OR ROLLBACK", " OR REPLACE"}) {
            const QString sql = QStringLiteral("UPDATE%1 card_movement SET FID = %2, FDate = '2024-06-09 00:00:00', FBranchID = 2, "
                                               "FValueAdd = FValueAdd + 1 WHERE FID = 3")
                                    .arg(QLatin1String(clause)).arg(qstrcmp(clause, " OR REPLACE") == 0 ? 5 : 3);
            QTest::newRow(QByteArray("update") + clause) << sql << (*clause ? QString() : sql);
        }
        QTest::newRow("replace_into") << QStringLiteral("REPLACE INTO card_movement VALUES ") + row.arg(100) << QString();
        const QString upsert = QStringLiteral("INSERT INTO card_movement VALUES %1 ON CONFLICT (FID) DO ").arg(row.arg(1));
        QTest::newRow("on_conflict_nothing") << upsert + QStringLiteral("NOTHING") << upsert + QStringLiteral("NOTHING");
        const QString update = upsert + QStringLiteral("UPDATE SET FDate = excluded.FDate, FValueAdd = excluded.FValueAdd");
        QTest::newRow("on_conflict_update") << update << update;
        QTest::newRow("delete") << QStringLiteral("DELETE FROM card_movement WHERE FID = 2")
                                << QStringLiteral("DELETE FROM card_movement WHERE FID = 2");
        // A card changes type, is replaced by a row of another type, is removed.
        const QString retype = QStringLiteral("UPDATE member_card SET FTypeID = 2 WHERE FID = 1");
        QTest::newRow("card_type") << retype << retype;
        const QString card = QStringLiteral("INTO member_card VALUES (2,'8002','李四',3,NULL,NULL,NULL,NULL,3,NULL,0)");
        QTest::newRow("card_replaced") << QStringLiteral("INSERT OR REPLACE ") + card
                                       << QStringLiteral("INSERT ") + card + QStringLiteral(" ON CONFLICT (FID) DO UPDATE SET FTypeID = 3");
        QTest::newRow("card_deleted") << QStringLiteral("DELETE FROM member_card WHERE FID = 3")
                                      << QStringLiteral("DELETE FROM member_card WHERE FID = 3");
        QTest::newRow("replace_recursive_triggers")
            << QStringLiteral("PRAGMA recursive_triggers = ON; INSERT OR REPLACE INTO card_movement VALUES ") + row.arg(4) << QString();
        QTest::newRow("merge") << QString()
            << QStringLiteral("MERGE INTO card_movement m USING (VALUES (100, 2600), (7, 900)) v (id, amount) ON m.FID = v.id "
                              "WHEN MATCHED THEN UPDATE SET FValueAdd = v.amount, FDate = '2024-02-01 00:00:00' "
                              "WHEN NOT MATCHED THEN INSERT VALUES (v.id, 3, '2024-07-01 00:00:00', 3, 1, 'CZ', v.amount, 0, 0, NULL, NULL)");
    }

    // Each form on a chain with the ledger and one without: both accept or both refuse it, the
    // ledger equals the movements, and report 10901 gives the same rows either way.
    void statementForms()
    {
        for (size_t engine = 0; engine < m_ledger.Engines().size(); ++engine) {
            const QString name = m_ledger.Engines()[engine].name;
            QFETCH(QString, sqlite);
            QFETCH(QString, postgresql);
            const QString statement = name == u"sqlite" ? sqlite : postgresql;
            if (statement.isEmpty())
                continue;
            QString outcome[2];
            for (const TestDatabases *dbs : {&m_ledger, &m_plain}) {
                auto db = Database::OpenForWriting(dbs->Engines()[engine].props);
                try {
                    for (const QString &part : statement.split(QStringLiteral("; ")))
                        db->Exec(part);
                    outcome[dbs == &m_plain] = QStringLiteral("ok");
                } catch (const VelError &e) {
                    outcome[dbs == &m_plain] = e.Description().section(u'(', 0, 0);
                }
            }
            QCOMPARE(outcome[0], outcome[1]);
            QCOMPARE(ledgerErrors(m_ledger.Engines()[engine].props), QStringList());
            for (int month = 3; month <= 7; ++month) {
                const Filter filter{{"Year", 2024}, {"Month", month}};
                QCOMPARE(TestDatabases::RowLines(m_ledger.Run(int(engine), 10901, filter)),
                         TestDatabases::RowLines(m_plain.Run(int(engine), 10901, filter)));
            }
        }
    }

    void isolationLevels_data()
    {
        QTest::addColumn<QString>("props");
        QTest::addColumn<QString>("begin");
        QTest::newRow("sqlite") << m_ledger.Engines()[0].props << QStringLiteral("BEGIN IMMEDIATE");
        for (const TestDatabases *dbs : {&m_ledger, &m_parted}) {
            for (const char *level : {"READ COMMITTED", "REPEATABLE READ", "SERIALIZABLE"}) {
                if (dbs->Engines().size() > 1)
                    QTest::newRow(qPrintable(QStringLiteral("%1_%2").arg(QLatin1String(dbs == &m_ledger ? "plain" : "partitioned"), QLatin1String(level))))
                        << dbs->Engines()[1].props << QStringLiteral("BEGIN ISOLATION LEVEL ") + QLatin1String(level);
            }
        }
    }

    // Writers add movements in random months of one card at a time (a new card every 20 ms), so
    // that month rows are made while another writer changes the card, move them between months,
    // and write the card's row or change its type.
    void isolationLevels()
    {
        QFETCH(QString, props);
        QFETCH(QString, begin);
        Writers writers;
        writers.Start(props, 4, begin, [](std::mt19937 &random, int id) {
            const int card = 10 + int(QDateTime::currentMSecsSinceEpoch() / 20 % 100000), month = 1 + int(random() % 12);
            if (random() % 5 == 0)   // the card's row written or its type changed while its movements are
                return QStringLiteral("INSERT INTO member_card VALUES (%1, 'W%3', 'w', %2, NULL, NULL, NULL, NULL, 2, NULL, 0) "
                                      "ON CONFLICT (FID) DO UPDATE SET FTypeID = excluded.FTypeID")
                    .arg(card).arg(1 + int(random() % 3)).arg(id);
            if (random() % 3 == 0)
                return QStringLiteral("UPDATE card_movement SET FDate = '2024-%1-20 00:00:00' WHERE FID = %2")
                    .arg(month, 2, 10, QChar(u'0')).arg(id - int(random() % 20));
            return QStringLiteral("INSERT INTO card_movement VALUES (%1, %2, '2024-%3-10 00:00:00', %4, 1, 'CZ', %5, 0, %6, NULL, NULL)")
                .arg(id).arg(card).arg(month, 2, 10, QChar(u'0')).arg(2 + int(random() % 2)).arg(100 + id % 7).arg(id % 5);
        });
        QTest::qWait(3000);
        writers.Finish();
        QCOMPARE(writers.failures.load(), 0);
        QVERIFY(writers.commits > 50);
        QCOMPARE(ledgerErrors(props), QStringList());
    }

    void dateForms_data()
    {
        // PostgreSQL's TIMESTAMP reads the other ISO forms as the same time, and refuses no day.
        QTest::addColumn<QString>("date");
        QTest::addColumn<bool>("sqlite");
        QTest::addColumn<bool>("postgresql");
        QTest::newRow("one_form") << "2024-05-31 10:00:00" << true << true;
        for (const char *other : {"2024-05-31T10:00:00", "2024-05-31", "2024-05-31 10:00:00.5"})
            QTest::newRow(other) << other << false << true;
        for (const char *other : {"2024-02-30 10:00:00", "infinity", "31/05/2024 10:00"})
            QTest::newRow(other) << other << false << false;
    }

    // A row is written with a date-time in the one form or refused, on every table and chain;
    // on PostgreSQL after upgrade-schema has put back the checks an older chain lacks.
    void dateForms()
    {
        QFETCH(QString, date);
        QFETCH(bool, sqlite);
        QFETCH(bool, postgresql);
        const QStringList rows{QStringLiteral("INSERT INTO sale_bill VALUES (900, 'D900', 2, NULL, NULL, NULL, 1, '%1', 0)"),
                               QStringLiteral("INSERT INTO card_movement VALUES (900, 1, '%1', 2, 4, 'D', 0, 0, 1, NULL, NULL)"),
                               QStringLiteral("INSERT INTO topup VALUES (900, 1, '%1', 2, 100, 100, NULL, NULL)"),
                               QStringLiteral("INSERT INTO gift_redemption VALUES (900, 1, '%1', 2, 1, NULL, 1, 1, 1)"),
                               QStringLiteral("UPDATE member_card SET FBirthday = '%1' WHERE FID = 1")};
        for (const TestDatabases::Engine &e : {m_ledger.Engines().back(), m_parted.Engines().back(), m_ledger.Engines()[0]}) {
            auto db = Database::OpenForWriting(e.props);
            if (e.name != u"sqlite") {
                for (const char *table : {"member_card", "sale_bill", "card_movement", "topup", "gift_redemption"})
                    db->Exec(QStringLiteral("ALTER TABLE %1 DROP CONSTRAINT %1_date_form").arg(QLatin1String(table)));
                QCOMPARE(UpgradeSchemaMain({QStringLiteral("--props"), e.props}), 0);
            }
            for (const QString &row : rows) {
                // A written row is rolled back by the failing statement after it.
                bool written = false;
                try {
                    db->ExecAll({row.arg(date), QStringLiteral("SELECT undo_written_row FROM branch")});
                } catch (const VelError &error) {
                    written = error.Description().contains(u"undo_written_row");
                }
                QVERIFY2(written == (e.name == u"sqlite" ? sqlite : postgresql), qPrintable(e.name + u' ' + row));
            }
        }
    }

    void upgradeUnderTills_data() { isolationLevels_data(); }

    // Tills write a top-up and a payment of the same amount before December on one card, each
    // pair in one transaction whose snapshot is taken first, while upgrade-schema builds the ledger
    // for the first time and then again and again: every December 10901 equals the one before,
    // and the ledger the movements afterwards (none missed). VELVIP_UPGRADE_SECONDS lengthens it.
    void upgradeUnderTills()
    {
        QFETCH(QString, props);
        QFETCH(QString, begin);
        const auto db = Database::OpenForWriting(props);
        db->ExecAll(Schema::DropLedgerStatements(db->Driver()));
        const Filter december{{"Year", 2024}, {"Month", 12}};
        const QStringList expected = TestDatabases::RowLines(TestDatabases::RunOn(props, 10901, december));
        // SQLite has one writer at a time and its lock no queue: the tills and the upgrade wait
        // for each other as long as a loaded machine's ledger build takes.
        const QString writing = props + (begin == u"BEGIN IMMEDIATE" ? QStringLiteral(";LockTimeout=120") : QString());
        Writers tills;
        tills.Start(writing, 3, begin, [](std::mt19937 &random, int id) {
            const QString row = QStringLiteral("INSERT INTO card_movement VALUES (%1, %2, '2024-%3-%4 10:00:00', 2, %5, 'T', %6, %7, 0, NULL, NULL)");
            const int card = 1 + int(random() % 3), amount = 100 + int(random() % 900);
            return QStringLiteral("SELECT count(*) FROM branch; ")
                + row.arg(id).arg(card).arg(1 + random() % 11, 2, 10, QChar(u'0')).arg(10).arg(1).arg(amount).arg(0) + QStringLiteral("; ")
                + row.arg(id + 500000).arg(card).arg(1 + random() % 11, 2, 10, QChar(u'0')).arg(20).arg(2).arg(0).arg(amount);
        });
        std::atomic<bool> done{false};
        std::atomic<int> upgrades{0}, upgradeFailures{0};
        std::thread upgrader([&] {
            while (!done)
                (UpgradeSchemaMain({QStringLiteral("--props"), writing}) == 0 ? upgrades : upgradeFailures)++;
        });
        QStringList wrong;
        QElapsedTimer timer;
        timer.start();
        int runs = 0;
        for (; timer.elapsed() < std::max(3, qEnvironmentVariableIntValue("VELVIP_UPGRADE_SECONDS")) * 1000 || upgrades < 3; ++runs) {
            try {
                if (const QStringList lines = TestDatabases::RowLines(TestDatabases::RunOn(props, 10901, december)); lines != expected)
                    wrong << lines.value(0);
            } catch (const VelError &e) {
                wrong << e.Description();
            }
        }
        done = true;
        upgrader.join();
        tills.Finish();
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("%1 of %2 runs: %3").arg(wrong.size()).arg(runs).arg(wrong.value(0))));
        QCOMPARE(upgradeFailures.load(), 0);
        QCOMPARE(tills.failures.load(), 0);
        QVERIFY(tills.commits > 10);
        QCOMPARE(ledgerErrors(props), QStringList());
    }

private:
    TestDatabases m_ledger, m_plain, m_parted;
};

QTEST_GUILESS_MAIN(tst_ServerWriters)
#include "tst_serverwriters.moc"
