// A chain whose dated tables are monthly partitions (PostgreSQL), made so or moved there by
// upgrade-schema, gives the rows of the same chain unpartitioned, and the month reports read
// only the month's partitions.
#include "ConnectionText.h"
#include "Database.h"
#include "Dictionary.h"
#include "ReadSessions.h"
#include "ReportQueries.h"
#include "RowCursor.h"
#include "Schema.h"
#include "TestDatabases.h"
#include "UpgradeSchema.h"
#include "VelError.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

// The demo chain, on PostgreSQL only (the SQLite file of each TestDatabases stays empty).
void generate(const QString &props, bool partitioned)
{
    DemoOptions o;
    o.members = 120, o.items = 60, o.days = 400, o.linesPerDay = 20, o.seed = 31, o.partitioned = partitioned;
    if (ConnectionText::Parse(props).Driver() == ConnectionText::Engine::PostgreSQL)
        TestDatabases::GenerateDemo(props, o);
}

} // namespace

struct MonthPlan { qint32 rptId; Filter filter; bool generic; QStringList months; };

class tst_ServerPartitions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        REQUIRE_PG(TestDatabases::PgServer());
        QString error;
        QVERIFY2(m_dbs[0].Create(QStringLiteral("plain"), [](const QString &p) { generate(p, false); }, &error), qPrintable(error));
        QVERIFY2(m_dbs[1].Create(QStringLiteral("parted"), [](const QString &p) { generate(p, true); }, &error), qPrintable(error));
        // A copy of the plain chain, moved into partitions.
        const QString plainName = ConnectionText::Parse(m_dbs[0].Engines().back().props).Database();
        QVERIFY2(m_dbs[2].Create(QStringLiteral("moved"), [](const QString &) {}, &error, QStringLiteral("TEMPLATE ") + plainName),
                 qPrintable(error));
        QVERIFY(m_dbs[2].Engines().size() == 2);
        m_plain = m_dbs[0].Engines()[1].props;
        m_parted = m_dbs[1].Engines()[1].props;
        m_moved = m_dbs[2].Engines()[1].props;
        QCOMPARE(UpgradeSchemaMain({QStringLiteral("--props"), m_moved, QStringLiteral("--partition-by-month")}), 0);
        // The reports' indexes an older chain lacks come back with the next upgrade.
        Database::OpenForWriting(m_moved)->ExecAll({QStringLiteral("DROP INDEX ix_sale_bill_branch"),
                                                   QStringLiteral("DROP INDEX ix_sale_line_date")});
        QCOMPARE(UpgradeSchemaMain({QStringLiteral("--props"), m_moved}), 0);
        QCOMPARE(ReadSessions::For(m_moved).SelectInt(QStringLiteral(
                     "SELECT count(*) FROM pg_class WHERE relname IN ('ix_sale_bill_branch', 'ix_sale_line_date')")), 2);
        QVERIFY(Schema::HasDatedLines(ReadSessions::For(m_moved)));
        QVERIFY(Schema::HasDatedLines(ReadSessions::For(m_parted)));
        QVERIFY(!Schema::HasDatedLines(ReadSessions::For(m_plain)));
    }

    void cleanupTestCase()
    {
        for (TestDatabases &dbs : m_dbs)
            dbs.Drop();
    }

    void sameRows_data()
    {
        QTest::addColumn<qint32>("rptId");
        QTest::addColumn<Filter>("filter");
        QTest::newRow("10901") << 10901 << Filter{{"Year", 2024}, {"Month", 3}};
        QTest::newRow("10901 branches, new year") << 10901 << Filter{{"Year", 2025}, {"Month", 1}, {"BBranchNum", "002"}, {"EBranchNum", "005"}};
        QTest::newRow("10902 cards") << 10902 << Filter{{"GroupBy", 0}, {"BDate", "2024-06-01 00:00:00"}, {"EDate", "2024-07-01 00:00:00"}};
        QTest::newRow("10902 branches, across the year") << 10902 << Filter{{"GroupBy", 1}, {"BDate", "2024-11-15 00:00:00"}, {"EDate", "2025-01-20 00:00:00"}};
        QTest::newRow("10902 open end") << 10902 << Filter{{"GroupBy", 2}, {"BDate", "2025-01-01 00:00:00"}};
        QTest::newRow("10903") << 10903 << Filter{{"BDate", "2024-06-01 00:00:00"}, {"EDate", "2024-06-30 23:59:59"}};
        QTest::newRow("10903 to the second") << 10903 << Filter{{"BDate", "2024-01-31 12:00:00"}, {"EDate", "2024-02-01 11:59:59"}};
        QTest::newRow("10904") << 10904 << Filter{{"GroupBy", 1}, {"BDate", "2024-09-01 00:00:00"}, {"EDate", "2024-09-30 23:59:59"}};
        QTest::newRow("10905") << 10905 << Filter{{"GroupBy", 0}, {"BDate", "2024-12-01 00:00:00"}, {"EDate", "2025-01-31 23:59:59"}};
        QTest::newRow("10906") << 10906 << Filter{};
    }

    void sameRows()
    {
        QFETCH(qint32, rptId);
        QFETCH(Filter, filter);
        const QStringList plain = TestDatabases::RowLines(TestDatabases::RunOn(m_plain, rptId, filter));
        QVERIFY(plain.size() > 1);
        for (const QString &props : {m_parted, m_moved})
            QCOMPARE(TestDatabases::RowLines(TestDatabases::RunOn(props, rptId, filter)), plain);
    }

    void monthPartitionsOnly_data()
    {
        QTest::addColumn<MonthPlan>("row");
        const Filter june{{"BDate", "2024-06-01 00:00:00"}, {"EDate", "2024-06-30 23:59:59"}};
        QTest::newRow("10901") << MonthPlan{10901, Filter{{"Year", 2024}, {"Month", 8}}, false, QStringList{"202408"}};
        QTest::newRow("10901 generic plan") << MonthPlan{10901, Filter{{"Year", 2024}, {"Month", 8}, {"BBranchNum", "002"}}, true,
                                            QStringList{"202408"}};
        QTest::newRow("10902") << MonthPlan{10902, Filter{{"GroupBy", 0}, {"BDate", "2024-06-01 00:00:00"}, {"EDate", "2024-07-01 00:00:00"}},
                               false, QStringList{"202406"}};
        QTest::newRow("10903") << MonthPlan{10903, june, false, QStringList{"202406"}};
        QTest::newRow("10903 generic plan") << MonthPlan{10903, june, true, QStringList{"202406"}};
        QTest::newRow("10903 two months") << MonthPlan{10903, Filter{{"BDate", "2024-12-20 00:00:00"}, {"EDate", "2025-01-10 23:59:59"}},
                                          true, QStringList{"202412", "202501"}};
    }

    // The partitions named in the executed plan of the report's own SELECT with its bound values:
    // as the driver sends it (planned with the values), or as a generic plan pruned when it starts.
    void monthPartitionsOnly()
    {
        QFETCH(MonthPlan, row);
        const auto &[rptId, filter, generic, months] = row;
        auto db = Database::OpenForWriting(m_parted);
        const DictionaryPtr d = MakeDictionary(filter);
        const SqlQuery q = rptId == 10901 ? ReportQueries::Movements10901(db->Driver(), d.get(), BranchScope::HeadOffice())
            : rptId == 10902              ? ReportQueries::Sales10902(db->Driver(), d.get(), BranchScope::HeadOffice(), true)
                                          : ReportQueries::Lines10903(db->Driver(), d.get(), BranchScope::HeadOffice(), true);
        QString plan;
        const QString explain = QStringLiteral("EXPLAIN (ANALYZE, COSTS OFF, TIMING OFF, SUMMARY OFF) ");
        std::unique_ptr<RowCursor> c;
        if (generic) {
            QString sql = q.sql;
            QStringList args;
            for (qsizetype i = 0, n = 0; i < sql.size(); ++i) {
                if (sql[i] == u'?')
                    sql.replace(i, 1, QStringLiteral("$%1").arg(++n));
            }
            for (const QVariant &p : q.params)
                args << QStringLiteral("'%1'").arg(p.toString().replace(u'\'', QStringLiteral("''")));
            db->Exec(QStringLiteral("SET plan_cache_mode = force_generic_plan"));
            db->Exec(QStringLiteral("PREPARE report AS ") + sql);
            c = db->Select(explain + QStringLiteral("EXECUTE report (%1)").arg(args.join(u',')));
        } else {
            c = db->Select(explain + q.sql, q.params);
        }
        while (c->Next())
            plan += c->Text(0).toString() + u'\n';
        QSet<QString> seen;
        static const QRegularExpression partition(QStringLiteral("\\b(?:sale_bill|sale_line|card_movement)_(\\d{6})\\b"));
        for (auto it = partition.globalMatch(plan); it.hasNext();)
            seen.insert(it.next().captured(1));
        QVERIFY2(seen == QSet<QString>(months.begin(), months.end()), qPrintable(plan));
        if (generic)
            QVERIFY2(plan.contains(QStringLiteral("Subplans Removed")), qPrintable(plan));
    }

    // Movements written, moved to another month (another partition) and deleted keep the balance
    // ledger of the partitioned chains equal to the unpartitioned chain's after the same edits.
    void ledgerFollowsEdits()
    {
        const QStringList edits{
            QStringLiteral("UPDATE card_movement SET FDate = FDate + INTERVAL '3 months' WHERE FID IN (10, 200)"),
            QStringLiteral("UPDATE card_movement SET FDate = FDate - INTERVAL '3 months' WHERE FID IN (900, 2000)"),
            QStringLiteral("UPDATE card_movement SET FValueAdd = FValueAdd + 777 WHERE FID = 300"),
            QStringLiteral("DELETE FROM card_movement WHERE FID IN (15, 450)"),
            QStringLiteral("INSERT INTO card_movement (FID, FCardID, FDate, FBranchID, FKind, FBillNo, FValueAdd, FValueSpent, FPoints) "
                           "VALUES (999999, 3, '2024-02-10 10:00:00', 2, 5, 'TZ1', 0, 0, 4200)"),
        };
        for (const QString &props : {m_plain, m_parted, m_moved}) {
            Database::OpenForWriting(props)->ExecAll(edits);
            // A value movement's id is the chain's, whatever the date.
            QVERIFY_THROWS_EXCEPTION(VelError, Database::OpenForWriting(props)->Exec(QStringLiteral(
                "INSERT INTO card_movement SELECT FID, FCardID, FDate + INTERVAL '1 month', FBranchID, 1, 'TZ2', 500, 0, 0, NULL, NULL "
                "FROM card_movement WHERE FID = (SELECT MIN(FMoveID) FROM card_value_split)")));
        }
        for (int month : {2, 5, 9, 12}) {
            const Filter filter{{"Year", 2024}, {"Month", month}, {"ShowSumOnly", 1}};
            const QStringList plain = TestDatabases::RowLines(TestDatabases::RunOn(m_plain, 10901, filter));
            for (const QString &props : {m_parted, m_moved})
                QCOMPARE(TestDatabases::RowLines(TestDatabases::RunOn(props, 10901, filter)), plain);
        }
    }

    // Months added later take rows, and a line's date must be its bill's: a bill re-dated within its
    // month takes its lines along.
    void nextMonthsAndLineDates()
    {
        auto db = Database::OpenForWriting(m_parted);
        auto scalar = [&](const QString &sql) {
            auto c = db->Select(sql);
            return c->Next() ? c->Text(0).toString() : QString();
        };
        QCOMPARE(scalar(QStringLiteral("SELECT add_month_partitions(DATE '2025-03-15', 2)")), QStringLiteral("10"));
        QCOMPARE(scalar(QStringLiteral("SELECT add_month_partitions(DATE '2025-04-01', 2)")), QStringLiteral("5"));
        db->Exec(QStringLiteral("INSERT INTO sale_bill (FID, FBillNo, FBranchID, FDate, FReturn) VALUES (900001, 'XS1', 2, '2025-05-03 10:00:00', 0)"));
        const QString line = QStringLiteral("INSERT INTO sale_line (FID, FBillID, FLineNo, FItemID, FUnitID, FQty, FPrice, FSalePrice, "
                                            "FAmount, FSaleAmount, FDate) VALUES (900001, 900001, 1, 1, 1, 1000, 100, 100, 100, 100, '%1')");
        QVERIFY_THROWS_EXCEPTION(VelError, db->Exec(line.arg(QStringLiteral("2025-05-03 10:00:01"))));
        db->Exec(line.arg(QStringLiteral("2025-05-03 10:00:00")));
        db->Exec(QStringLiteral("UPDATE sale_bill SET FDate = '2025-05-20 09:00:00' WHERE FID = 900001"));
        QCOMPARE(scalar(QStringLiteral("SELECT to_char(FDate, 'YYYY-MM-DD HH24:MI') FROM sale_line_202505 WHERE FID = 900001")),
                 QStringLiteral("2025-05-20 09:00"));
        QVERIFY_THROWS_EXCEPTION(VelError, db->Exec(QStringLiteral("UPDATE sale_bill SET FDate = '2025-04-20 09:00:00' WHERE FID = 900001")));
    }

private:
    TestDatabases m_dbs[3];     // plain, partitioned, moved into partitions
    QString m_plain, m_parted, m_moved;
};

QTEST_GUILESS_MAIN(tst_ServerPartitions)
#include "tst_serverpartitions.moc"
