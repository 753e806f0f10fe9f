// Every report on a PostgreSQL hot standby gives the primary's rows (VELVIP_TEST_PG_STANDBY,
// started by pg_cluster_start_standby in scripts/pg-cluster.sh).
#include "ConnectionText.h"
#include "Database.h"
#include "Recordset.h"
#include "RowCursor.h"
#include "TestDatabases.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

namespace {

using Filter = QList<QPair<QString, QVariant>>;

void generate(const QString &props)
{
    DemoOptions o;
    o.members = 120;
    o.items = 60;
    o.days = 400;
    o.linesPerDay = 20;
    o.seed = 23;
    TestDatabases::GenerateDemo(props, o);
}

} // namespace

Q_DECLARE_METATYPE(Filter)

class tst_ServerStandby : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_dbs.Drop(); }
    void reportsOnStandby_data();
    void reportsOnStandby();
    void recoveryConflict();

private:
    TestDatabases m_dbs;
    QString m_primary, m_standby;
};

void tst_ServerStandby::initTestCase()
{
    const QString standby = qEnvironmentVariable("VELVIP_TEST_PG_STANDBY");
    if (standby.isEmpty()) {
        if (qEnvironmentVariable("VELVIP_REQUIRE_STANDBY") == u"1")
            QFAIL("VELVIP_REQUIRE_STANDBY=1 but VELVIP_TEST_PG_STANDBY is not set");
        QSKIP("no hot standby (VELVIP_TEST_PG_STANDBY)");
    }
    QString error;
    QVERIFY2(m_dbs.Create(QStringLiteral("standby"), generate, &error), qPrintable(error));
    QVERIFY2(m_dbs.Engines().size() == 2, "the standby's primary is VELVIP_TEST_PG");
    m_primary = m_dbs.Engines()[1].props;
    const ConnectionText p = ConnectionText::Parse(m_primary), s = ConnectionText::Parse(standby);
    m_standby = ConnectionText::Make({{QStringLiteral("Driver"), QStringLiteral("PostgreSQL")},
                                      {QStringLiteral("Host"), s.Host()},
                                      {QStringLiteral("Port"), QString::number(s.Port(5432))},
                                      {QStringLiteral("Database"), p.Database()},
                                      {QStringLiteral("User"), s.User()},
                                      {QStringLiteral("Password"), s.Password()}});

    // Wait until the standby has replayed everything the primary wrote.
    QString lsn;
    {
        auto primary = Database::OpenForWriting(m_primary);
        auto c = primary->Select(QStringLiteral("SELECT pg_current_wal_lsn()::text"));
        QVERIFY(c->Next());
        lsn = c->Text(0).toString();
    }
    auto server = Database::OpenForWriting(standby);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        auto c = server->Select(QStringLiteral("SELECT CASE WHEN pg_last_wal_replay_lsn() >= CAST(? AS pg_lsn) THEN 1 ELSE 0 END"),
                                {lsn});
        if (c->Next() && c->Int(0) == 1)
            break;
        QVERIFY2(waited.elapsed() < 60000, "the standby did not catch up within 60 s");
        QThread::msleep(100);
    }
    auto recovery = Database::ForReports(m_standby).Select(QStringLiteral("SELECT CASE WHEN pg_is_in_recovery() THEN 1 ELSE 0 END"));
    QVERIFY(recovery->Next());
    QCOMPARE(recovery->Int(0), 1);
}

void tst_ServerStandby::reportsOnStandby_data()
{
    QTest::addColumn<qint32>("rptId");
    QTest::addColumn<Filter>("filter");
    QTest::newRow("10901") << 10901 << Filter{{"Year", 2024}, {"Month", 11}};
    QTest::newRow("10901_branches") << 10901 << Filter{{"Year", 2025}, {"Month", 1}, {"BBranchNum", "002"}, {"EBranchNum", "005"}};
    QTest::newRow("10902") << 10902 << Filter{{"GroupBy", 1}, {"BDate", "2024-03-01 00:00:00"}, {"EDate", "2024-05-01 00:00:00"}};
    QTest::newRow("10903") << 10903 << Filter{{"BDate", "2024-06-01 00:00:00"}, {"EDate", "2024-06-30 23:59:59"}};
    QTest::newRow("10904") << 10904 << Filter{{"GroupBy", 1}};
    QTest::newRow("10905") << 10905 << Filter{{"GroupBy", 0}};
    QTest::newRow("10906") << 10906 << Filter{};
}

void tst_ServerStandby::reportsOnStandby()
{
    QFETCH(qint32, rptId);
    QFETCH(Filter, filter);
    const QStringList onPrimary = TestDatabases::RowLines(m_dbs.Run(1, rptId, filter));
    QVERIFY(!onPrimary.isEmpty());
    QCOMPARE(TestDatabases::RowLines(TestDatabases::RunOn(m_standby, rptId, filter)), onPrimary);
}

// A read the standby cancels to replay a lock the primary took is named as such, as one to retry.
void tst_ServerStandby::recoveryConflict()
{
    auto cursor = Database::ForReports(m_standby).Select(
        QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 10000000) "
                       "SELECT i.FName, n.x FROM n, item i"));
    QVERIFY(cursor->Next());
    Database::OpenForWriting(m_primary)->ExecAll({QStringLiteral("LOCK TABLE item IN ACCESS EXCLUSIVE MODE")});
    QString message;
    try {
        while (cursor->Next()) {
        }
    } catch (const TransientError &e) {
        message = e.Description();
    } catch (const VelError &e) {
        QFAIL(qPrintable(e.Description()));
    }
    QVERIFY2(message.contains(u"稍后再试，或改在主库上运行即可"), qPrintable(message));
}

QTEST_GUILESS_MAIN(tst_ServerStandby)
#include "tst_serverstandby.moc"
