// Every report on a PostgreSQL hot standby gives the primary's rows, and a connection text naming
// standbys reads the healthy ones (VELVIP_TEST_PG_STANDBY and VELVIP_TEST_PG_STANDBY2, started by
// pg_cluster_start_standby in scripts/pg-cluster.sh).
#include "ConnectionText.h"
#include "Database.h"
#include "ReadSessions.h"
#include "Recordset.h"
#include "RowCursor.h"
#include "StandbyChooser.h"
#include "TestDatabases.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QTest>
#include <QThread>

#include <thread>

#include <unistd.h>

namespace {

void generate(const QString &props)
{
    DemoOptions o;
    o.members = 120, o.items = 60, o.days = 400, o.linesPerDay = 20, o.seed = 23;
    TestDatabases::GenerateDemo(props, o);
}

} // namespace

// event: what happens to standby 2 first
struct Choice { QStringList standbys; QString event; QList<int> expected; };

class tst_ServerStandby : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
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
        const QString servers[] = {m_primary, standby, qEnvironmentVariable("VELVIP_TEST_PG_STANDBY2")};
        for (int i = 0; i < 3; ++i)
            m_address[i] = servers[i].isEmpty() ? QString() : address(ConnectionText::Parse(servers[i]));
        // The test's database on the standby (the last value of a key counts).
        m_standby = standby + QStringLiteral(";Database=") + ConnectionText::Parse(m_primary).Database();

        m_cards = TestDatabases::RowLines(m_dbs.Run(1, 10906, {}));
        QVERIFY(caughtUp());
        auto recovery = ReadSessions::For(m_standby).Select(QStringLiteral("SELECT CASE WHEN pg_is_in_recovery() THEN 1 ELSE 0 END"));
        QVERIFY(recovery->Next());
        QCOMPARE(recovery->Int(0), 1);
    }

    void cleanupTestCase() { m_dbs.Drop(); }

    void reportsOnStandby_data()
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

    void reportsOnStandby()
    {
        QFETCH(qint32, rptId);
        QFETCH(Filter, filter);
        const QStringList onPrimary = TestDatabases::RowLines(m_dbs.Run(1, rptId, filter));
        QVERIFY(!onPrimary.isEmpty());
        QCOMPARE(TestDatabases::RowLines(TestDatabases::RunOn(m_standby, rptId, filter)), onPrimary);
        if (!m_address[2].isEmpty())
            QCOMPARE(TestDatabases::RowLines(TestDatabases::RunOn(withStandbys({"2"}), rptId, filter)), onPrimary);
    }

    // A read the standby cancels to replay a lock the primary took is named as such, as one to retry.
    void recoveryConflict()
    {
        auto cursor = ReadSessions::For(m_standby).Select(
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

    void choice_data()
    {
        QTest::addColumn<Choice>("pick");
        if (qEnvironmentVariable("VELVIP_TEST_PG_STANDBY2").isEmpty())
            QSKIP("no second hot standby (VELVIP_TEST_PG_STANDBY2)");
        QTest::newRow("spread") << Choice{QStringList{"1", "2"}, QString(), QList<int>{1, 2}};
        QTest::newRow("one_down") << Choice{QStringList{"dead", "2"}, QString(), QList<int>{2}};
        QTest::newRow("both_down") << Choice{QStringList{"dead", "dead"}, QString(), QList<int>{0}};
        QTest::newRow("paused_lags") << Choice{QStringList{"1", "2"}, "pause", QList<int>{1}};
        QTest::newRow("only_paused") << Choice{QStringList{"2"}, "pause", QList<int>{0}};
        QTest::newRow("first_wal_after_idle") << Choice{QStringList{"1", "2"}, "resume", QList<int>{1, 2}};
        QTest::newRow("stopped_in_use") << Choice{QStringList{"1", "2"}, "terminate", QList<int>{1}};
    }

    void choice()
    {
        QFETCH(Choice, pick);
        const auto &[standbys, event, expected] = pick;
        // A standby still replaying an earlier row's writes counts as lagging.
        QVERIFY2(caughtUp(), "the standbys did not catch up within 60 s");
        const QString text = withStandbys(standbys, 1);
        QCOMPARE(TestDatabases::RowLines(TestDatabases::RunOn(text, 10906, {})), m_cards);
        auto standby2 = Database::OpenForWriting(qEnvironmentVariable("VELVIP_TEST_PG_STANDBY2"));
        const QString ownSessions = QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                                                   "WHERE datname = '%1' AND pid <> pg_backend_pid()")
                                        .arg(ConnectionText::Parse(m_primary).Database());
        if (event == u"terminate") {
            QVERIFY(standby2->SelectInt(ownSessions) > 0);
        } else if (event == u"pause") {
            standby2->Exec(QStringLiteral("SELECT pg_wal_replay_pause()"));
            writeOnPrimary();
            QThread::msleep(2500);
        }
        std::thread resumer;
        if (event == u"resume") {
            // An idle while, then WAL that standby 2 receives and replays as soon as it may.
            QThread::msleep(1500);
            standby2->Exec(QStringLiteral("SELECT pg_wal_replay_pause()"));
            writeOnPrimary();
            const QString lsn = primaryLsn();
            for (int i = 0; i < 100 && !standby2->Select(QStringLiteral("SELECT 1 WHERE pg_last_wal_receive_lsn() >= CAST(? AS pg_lsn)"),
                                                         {lsn})->Next(); ++i)
                QThread::msleep(100);
            resumer = std::thread([&] {
                QThread::msleep(200);
                standby2->Exec(QStringLiteral("SELECT pg_wal_replay_resume()"));
            });
            // Looked at while the WAL still waits: it is replayed within moments, so no lag.
            const QList<StandbyChooser::Server> early = StandbyChooser::Status(text);
            resumer.join();
            QCOMPARE(early[standbys.indexOf(QStringLiteral("2"))].state, QStringLiteral("up"));
        }
        QSet<QString> expectedServers;
        for (int e : expected)
            expectedServers << m_address[e];
        const QSet<QString> servers = chosen(text);
        QCOMPARE(TestDatabases::RowLines(TestDatabases::RunOn(text, 10906, {})), m_cards);
        const QList<StandbyChooser::Server> status = StandbyChooser::Status(text);
        if (event == u"pause")
            standby2->Exec(QStringLiteral("SELECT pg_wal_replay_resume()"));
        QCOMPARE(servers, expectedServers);
        QCOMPARE(status.last().state, QStringLiteral("up"));
        QCOMPARE(status.last().address, m_address[0]);
        if (event == u"pause")
            QCOMPARE(status[standbys.indexOf(QStringLiteral("2"))].state, QStringLiteral("lagging"));
    }

    // Last: it stops a standby (and starts it again).
    void stoppedMidRun_data()
    {
        QTest::addColumn<QString>("mode");
        if (m_address[2].isEmpty() || qEnvironmentVariable("PG_CLUSTER_DIR").isEmpty())
            QSKIP("no second hot standby of scripts/pg-cluster.sh (PG_CLUSTER_DIR)");
        QTest::newRow("fast") << "fast";
        QTest::newRow("immediate") << "immediate";
        // The session ended while the standby still answers, as for a moment during a shutdown.
        QTest::newRow("session ended") << "terminate";
    }

    // A standby stopped, or the report's session on it ended, while the report waits there: the
    // report runs again on the other standby and gives the primary's rows; the next runs skip the
    // first one.
    void stoppedMidRun()
    {
        QFETCH(QString, mode);
        QVERIFY2(caughtUp(), "the standbys did not catch up within 60 s");
        const QString dir = qEnvironmentVariable("PG_CLUSTER_DIR") + QStringLiteral("/standby2");
        const auto pgCtl = [&](const QStringList &args) {
            QStringList command{qEnvironmentVariable("PG_CLUSTER_BINDIR") + QStringLiteral("/pg_ctl"), QStringLiteral("-s"), QStringLiteral("-D"), dir};
            if (geteuid() == 0)
                command = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} + command;
            const QString program = command.takeFirst();
            return QProcess::execute(program, command + args);
        };
        const bool stop = mode != u"terminate";
        // Started again whatever happens, with the options it was started with.
        const std::shared_ptr<void> restart(nullptr, [&](void *) {
            if (stop)
                pgCtl({QStringLiteral("restart"), QStringLiteral("-w"), QStringLiteral("-l"), dir + QStringLiteral(".log")});
        });
        const Filter filter{{"BDate", "2024-06-01 00:00:00"}, {"EDate", "2024-06-30 23:59:59"}};
        const QStringList expected = TestDatabases::RowLines(m_dbs.Run(1, 10903, filter));
        // A lock the primary holds, replayed by the standbys, keeps the report waiting there; another
        // commit sends the lock to them. A report that slipped past the lock is run again with a text
        // of its own (MaxLagSeconds differs), whose first report goes to standby 2.
        QString text;
        std::unique_ptr<Database> holder;
        RecordsetPtr rows;
        QString error;
        std::thread report;
        bool waiting = false;
        for (int attempt = 0; attempt < 4 && !waiting; ++attempt) {
            if (report.joinable()) {
                holder->Exec(QStringLiteral("COMMIT"));
                report.join();
            }
            // A text of the row's own: the row before marked standby 2 down under its own.
            text = withStandbys({"2", "1"}, (mode == u"fast" ? 20 : mode == u"immediate" ? 10 : 30) + attempt);
            holder = Database::OpenForWriting(m_primary);
            holder->Exec(QStringLiteral("BEGIN"));
            holder->Exec(QStringLiteral("LOCK TABLE sale_bill IN ACCESS EXCLUSIVE MODE"));
            writeOnPrimary();
            QVERIFY2(caughtUp(), "the standbys did not replay the lock within 60 s");
            error.clear();
            report = std::thread([&, text] {
                try {
                    rows = TestDatabases::RunOn(text, 10903, filter);
                } catch (const VelError &e) {
                    error = e.Description();
                }
            });
            auto watch = Database::OpenForWriting(qEnvironmentVariable("VELVIP_TEST_PG_STANDBY2"));
            for (int i = 0; i < 100 && !waiting; ++i) {
                // Ended in the same look that finds it waiting: it could move on (a recovery
                // conflict sends it to the other standby) between two statements.
                waiting = watch->SelectInt(stop ? QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'")
                                                : QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity"
                                                                 " WHERE wait_event_type = 'Lock'")) > 0;
                QThread::msleep(100);
            }
        }
        const int stopped = stop ? pgCtl({QStringLiteral("stop"), QStringLiteral("-m"), mode, QStringLiteral("-w")}) : 0;
        holder->Exec(QStringLiteral("COMMIT"));
        report.join();
        QVERIFY2(waiting, "the report never waited on standby 2");
        QCOMPARE(stopped, 0);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(TestDatabases::RowLines(rows), expected);
        QCOMPARE(chosen(text), QSet<QString>{m_address[1]});
    }

private:
    static QString address(const ConnectionText &c) { return c.Host() + u':' + QString::number(c.Port(5432)); }

    // A commit on the primary, for the standbys to replay.
    void writeOnPrimary() const
    {
        Database::OpenForWriting(m_primary)->ExecAll({QStringLiteral("CREATE TABLE IF NOT EXISTS lag_mark (n int)"),
                                                      QStringLiteral("INSERT INTO lag_mark VALUES (1)")});
    }

    QString primaryLsn() const
    {
        const auto primary = Database::OpenForWriting(m_primary);
        auto c = primary->Select(QStringLiteral("SELECT pg_current_wal_lsn()::text"));
        return c->Next() ? c->Text(0).toString() : QString();
    }

    // The primary's text naming standbys: "1", "2" for the cluster's, "dead" for a closed port.
    QString withStandbys(const QStringList &which, int maxLag = 30) const
    {
        QStringList standbys;
        for (const QString &w : which)
            standbys << (w == u"dead" ? QStringLiteral("127.0.0.1:1") : m_address[w.toInt()]);
        return m_primary + QStringLiteral(";Standbys=%1;MaxLagSeconds=%2").arg(standbys.join(u','), QString::number(maxLag));
    }

    // The servers four report sessions in a row read.
    QSet<QString> chosen(const QString &text) const
    {
        QSet<QString> servers;
        for (int i = 0; i < 4; ++i)
            servers << address(ReadSessions::For(text).Connection());
        return servers;
    }

    // Waits until every standby has replayed everything the primary wrote.
    bool caughtUp() const
    {
        const QString lsn = primaryLsn();
        QElapsedTimer waited;
        waited.start();
        for (const char *name : {"VELVIP_TEST_PG_STANDBY", "VELVIP_TEST_PG_STANDBY2"}) {
            if (qEnvironmentVariable(name).isEmpty())
                continue;
            auto server = Database::OpenForWriting(qEnvironmentVariable(name));
            for (;;) {
                auto c = server->Select(QStringLiteral("SELECT CASE WHEN pg_last_wal_replay_lsn() >= CAST(? AS pg_lsn) THEN 1 ELSE 0 END"),
                                        {lsn});
                if (c->Next() && c->Int(0) == 1)
                    break;
                if (waited.elapsed() > 60000)
                    return false;
                QThread::msleep(100);
            }
        }
        return true;
    }

    TestDatabases m_dbs;
    QString m_primary, m_standby;
    QStringList m_cards;        // report 10906 on the primary
    QString m_address[3];       // primary, standby, standby 2
};

QTEST_GUILESS_MAIN(tst_ServerStandby)
#include "tst_serverstandby.moc"
