// Connection text parsing, session errors and the read-only rule.
#include "ConnectionText.h"
#include "Database.h"
#include "Dictionary.h"
#include "GLData.h"
#include "ReadSessions.h"
#include "RowCursor.h"
#include "Schema.h"
#include "TestDatabases.h"
#include "VelError.h"
#include "../ErrorOf.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

// The parent of a process (a PostgreSQL backend's postmaster), 0 when unknown.
pid_t parentOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // "pid (name) state ppid ...": the name may hold spaces, so read after its last ')'.
    const QByteArray line = stat.readAll();
    return pid_t(line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLong());
}

QString sqliteProps(const QString &path, const QString &extra = QString())
{
    return ConnectionText::Make({{QStringLiteral("Driver"), QStringLiteral("SQLite")},
                                 {QStringLiteral("Database"), path}}) + extra;
}

void makeTables(const QString &props)
{
    auto db = Database::OpenForWriting(props);
    for (const QString &ddl : Schema::TableStatements(db->Driver()))
        db->Exec(ddl);
}

// A chain file with the schema and one item named `itemName`.
void makeChain(const QString &path, const QString &itemName)
{
    makeTables(sqliteProps(path));
    auto db = Database::OpenForWriting(sqliteProps(path));
    db->Exec(QStringLiteral("INSERT INTO item (FID, FNumber, FName, FUnitID, FRetailPrice, FVipPrice) "
                            "VALUES (1, '01', ?, 1, 100, 90)"), {itemName});
}

// The names of the items a lookup finds in the chain of `props`.
QStringList itemNames(const QString &props)
{
    GLData data(BranchScope::HeadOffice());
    RecordsetPtr rs = data.GetLookupList(props, 4, QString(), QString(), 10);
    QStringList names;
    for (qint64 row = 0; row < rs->RecordCount(); ++row)
        names << rs->Value(row, QStringLiteral("FName")).toString();
    return names;
}

// How many of the server's sessions run (or, `orInTransaction`, hold open) a query like `pattern`.
qint64 runningLike(const Database &db, const QString &pattern, bool orInTransaction = false)
{
    auto c = db.Select(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE state %1 AND query LIKE ?")
                           .arg(orInTransaction ? "<> 'idle'" : "= 'active'"), {pattern});
    return c->Next() ? c->Int(0) : -1;
}

// "cancelled" when `work` ends as cancelled, else its error text.
QString outcome(const std::function<void()> &work)
{
    try {
        work();
    } catch (const VelError &e) {
        return Vel::IsCancelled(e) ? QStringLiteral("cancelled") : e.Description();
    }
    return QString();
}

} // namespace

// stop: the backend is stopped (SIGSTOP) never, before the query, or after its first row
// MidReadLeft: the server's postmaster stopped too, and the cursor left after its first row.
enum class Stop { Never, Before, MidRead, MidReadLeft };
struct Limits { QString limits; bool holdLock; Stop stop; QString sql; QVariantList params; QString expected; };

// text: null: SQL NULL
// integer: invalid: not a number
struct PgValue { QString sql; QVariantList params; QString text; QVariant integer; };

struct ParseCase { QString text; QString key; QString value; QString masked; };

struct FileFault { QStringList writer; bool copyWithJournal; QString expected; };

class tst_ServerConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        makeChain(m_dir.filePath(QStringLiteral("chain.sqlite")), QStringLiteral("甲"));
        auto other = Database::OpenForWriting(sqliteProps(m_dir.filePath(QStringLiteral("other.sqlite"))));
        other->Exec(QStringLiteral("CREATE TABLE notes (x INTEGER)"));
        QFile text(m_dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(QByteArray(4096, 'x'));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.sqlite")));
        QString error;
        QVERIFY2(m_tables.Create(QStringLiteral("tables"), makeTables, &error), qPrintable(error));
    }

    // masked: the text as it may be shown; null where the test leaves it out.
    void parse_data()
    {
        QTest::addColumn<ParseCase>("row");
        QTest::newRow("plain") << ParseCase{"Driver=SQLite;Database=/tmp/a b.sqlite", "database", "/tmp/a b.sqlite",
                                            "Driver=SQLite;Database=/tmp/a b.sqlite"};
        QTest::newRow("keys_any_case") << ParseCase{"DRIVER=SQLite;dAtAbAsE=/x", "Database", "/x", {}};
        QTest::newRow("spaces_trimmed") << ParseCase{" Driver = PostgreSQL ; Host = 10.0.0.1 ", "host", "10.0.0.1", {}};
        QTest::newRow("quoted_semicolon") << ParseCase{"Password=\"a;b=c\";User=u", "password", "a;b=c", "Password=******;User=u"};
        QTest::newRow("quoted_quote") << ParseCase{"Driver=PostgreSQL;User=rpt1;Password=\"my\"\"Secret9\"", "password", "my\"Secret9",
                                                   "Driver=PostgreSQL;User=rpt1;Password=******"};
        QTest::newRow("quoted_keeps_spaces") << ParseCase{"Password=\" x \"", "password", " x ", {}};
        QTest::newRow("unknown_ignored") << ParseCase{"Foo=1;User=u", "user", "u", {}};
        QTest::newRow("password_inside_other_values") << ParseCase{"Host=127.0.0.1;User=rpt1;Password=1", "host", "127.0.0.1",
                                                                   "Host=127.0.0.1;User=rpt1;Password=******"};
        QTest::newRow("key_any_case_repeated") << ParseCase{"PASSWORD=a;Database=\"x;y\";password=b", "database", "x;y",
                                                            "PASSWORD=******;Database=\"x;y\";password=******"};
        QTest::newRow("open_quote_swallows_password") << ParseCase{"Driver=PostgreSQL;User=\"rep;Password=Secret9", "driver",
                                                                   "PostgreSQL", "Driver=PostgreSQL;User=******"};
    }

    void parse()
    {
        QFETCH(ParseCase, row);
        const auto &[text, key, value, masked] = row;
        QCOMPARE(ConnectionText::Parse(text).Value(key), value);
        if (!masked.isNull())
            QCOMPARE(ConnectionText::Parse(text).Masked(), masked);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("props");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty_text") << "" << "连接文本是空的";
        QTest::newRow("only_separators") << " ; ;" << "连接文本是空的";
        QTest::newRow("port_with_letter") << "Driver=PostgreSQL;Port=55433x;Database=d;Password=Secret9"
                                          << "端口“55433x”无效";
        QTest::newRow("port_too_large") << "Driver=PostgreSQL;Port=99999999999;Database=d;Password=Secret9"
                                        << "端口“99999999999”无效";
        QTest::newRow("timeout_not_a_number") << "Driver=PostgreSQL;Database=d;Timeout=2m;Password=Secret9"
                                              << "Timeout“2m”无效";
        QTest::newRow("short_password_left_in_place")
            << "Driver=PostgreSQL;Host=127.0.0.1;Port=1;Database=d1;User=u1;Password=1"
            << "无法连接数据库服务器 127.0.0.1:1";
        QTest::newRow("directory") << sqliteProps(m_dir.filePath(QStringLiteral("folder.sqlite")))
                                   << "是一个文件夹，不是数据库文件";
        QTest::newRow("not_sqlite") << sqliteProps(m_dir.filePath(QStringLiteral("notes.txt")))
                                    << "不是 SQLite 数据库文件";
        QTest::newRow("not_a_chain") << sqliteProps(m_dir.filePath(QStringLiteral("other.sqlite")))
                                     << "不是会员报表的连锁数据库";
        QTest::newRow("no_driver") << "Database=/tmp/x;Password=Secret9" << "Driver";
        QTest::newRow("unknown_driver") << "Driver=Oracle;Database=x;Password=Secret9" << "Oracle";
        QTest::newRow("no_database") << "Driver=SQLite;Password=Secret9" << "Database";
        QTest::newRow("missing_file") << "Driver=SQLite;Database=/nonexistent/folder/chain.sqlite;Password=Secret9"
                                      << "数据库文件不存在";
        QTest::newRow("open_quote") << "Driver=PostgreSQL;Host=127.0.0.1;Port=1;Database=d;User=\"rep;Password=Secret9"
                                    << "第 57 个字符处的引号没有闭合";
        QTest::newRow("port_swallows_password") << "Driver=PostgreSQL;Database=d;Port=\"1;Password=Secret9\"" << "端口“”无效";
        QTest::newRow("driver_swallows_password") << "Driver=\"x;Password=Secret9\";Database=d" << "不支持的数据库类型";
        QTest::newRow("path_swallows_password") << "Driver=SQLite;Database=\"/nonexistent/c;Password=Secret9\""
                                                << "数据库文件不存在";
        if (!TestDatabases::PgServer().isEmpty())
            QTest::newRow("pg_not_a_chain") << TestDatabases::PgServer() << "不是会员报表的连锁数据库（没有表“";
        QTest::newRow("unreachable") << "Driver=PostgreSQL;Host=127.0.0.1;Port=1;Database=d;User=u;Password=Secret9"
                                     << "无法连接数据库服务器 127.0.0.1:1";
    }

    void errors()
    {
        QFETCH(QString, props);
        QFETCH(QString, expected);
        const QString error = ErrorOf([&] { TestDatabases::RunOn(props, 10906, {}); });
        QVERIFY2(error.contains(expected) && !error.contains(u"Secret9"), qPrintable(error));
    }

    // Another program's lock and a crashed writer's journal, each named as the cause.
    void sqliteFileFaults_data()
    {
        QTest::addColumn<FileFault>("row");
        QTest::newRow("locked_by_writer") << FileFault{QStringList{"BEGIN EXCLUSIVE"}, false, "正被其他程序锁住写入"};
        // A writer whose cache spilled mid-transaction; its file and journal copied together are
        // what a crash leaves behind.
        QTest::newRow("hot_journal") << FileFault{QStringList{"PRAGMA cache_size = 5", "BEGIN",
                                                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                                                    "INSERT INTO unit SELECT i + 10, 'u' || i, hex(randomblob(500)) FROM n"},
                                     true, "上次写入时中断"};
    }

    void sqliteFileFaults()
    {
        QFETCH(FileFault, row);
        const auto &[writer, copyWithJournal, expected] = row;
        const QString source = m_dir.filePath(QStringLiteral("fault-%1.sqlite").arg(QTest::currentDataTag()));
        makeChain(source, QStringLiteral("乙"));
        const QString target = copyWithJournal ? source + QStringLiteral(".crashed") : source;
        QString error;
        {
            // Another program's connection, open (and its transaction with it) until the scope ends.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), source);
            db.setDatabaseName(source);
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (const QString &sql : writer)
                QVERIFY2(q.exec(sql), qPrintable(sql));
            if (copyWithJournal) {
                QVERIFY(QFile::copy(source, target));
                QVERIFY(QFile::copy(source + QStringLiteral("-journal"), target + QStringLiteral("-journal")));
            }
            error = ErrorOf([&] { itemNames(sqliteProps(target, QStringLiteral(";LockTimeout=1"))); });
        }
        QSqlDatabase::removeDatabase(source);
        QVERIFY2(error.contains(expected), qPrintable(error));
    }

    // A chain renamed over the pooled one, or copied over it in place (same inode), is read afresh.
    void pooledSessionFollowsReplacedFile_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("renamed_over") << false;
        QTest::newRow("overwritten_in_place") << true;
    }

    void pooledSessionFollowsReplacedFile()
    {
        QFETCH(bool, inPlace);
        const QString path = m_dir.filePath(QStringLiteral("replaced-%1.sqlite").arg(inPlace));
        const QString other = m_dir.filePath(QStringLiteral("replacement-%1.sqlite").arg(inPlace));
        makeChain(path, QStringLiteral("旧"));
        makeChain(other, QStringLiteral("新"));
        const QString props = sqliteProps(path);
        QCOMPARE(itemNames(props), QStringList{QStringLiteral("旧")});
        if (inPlace) {
            QFile from(other), to(path);
            QVERIFY(from.open(QIODevice::ReadOnly) && to.open(QIODevice::ReadWrite));
            QVERIFY(to.write(from.readAll()) > 0);
        } else {
            QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
        }
        QCOMPARE(itemNames(props), QStringList{QStringLiteral("新")});
    }

    void pathsAreNeverUris()
    {
        const QString oldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        makeChain(m_dir.filePath(QStringLiteral("file:c.sqlite")), QStringLiteral("路径"));
        makeChain(m_dir.filePath(QStringLiteral("c.sqlite")), QStringLiteral("统一资源标识"));
        QStringList names;
        const QString error = ErrorOf([&] { names = itemNames(sqliteProps(QStringLiteral("file:c.sqlite"))); });
        QDir::setCurrent(oldDir);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(names, QStringList{QStringLiteral("路径")});
    }

    void pgLogin()
    {
        const QString server = TestDatabases::PgServer();
        REQUIRE_PG(server);
        const ConnectionText ct = ConnectionText::Parse(server);
        const QString base = QStringLiteral("Driver=PostgreSQL;Host=%1;Port=%2;Database=%3;")
                                 .arg(ct.Host()).arg(ct.Port(5432)).arg(ct.Database());
        // A wrong password (the user name) names the user as it is; a quoted user name that
        // swallowed the password is never repeated; with no password anywhere, the sentence
        // says where one may come from.
        qunsetenv("PGPASSWORD");
        const QList<QPair<QString, QString>> logins{
            {"User=" + ct.User() + ";Password=" + ct.User(), "拒绝了用户“" + ct.User() + "”"},
            {"User=\"x;Password=Secret9\";Password=wrong", "拒绝了所给的用户的登录"},
            {"User=" + ct.User(), "PGPASSWORD"}};
        for (const auto &[login, expected] : logins) {
            const QString error = ErrorOf([&] { ReadSessions::For(base + login); });
            QVERIFY2(error.contains(expected) && !error.contains(u"Secret9") && !error.contains(u"******"), qPrintable(error));
        }
    }

    // A cursor dropped after its first row stops the query, and the session reads on.
    void pgCursorLeftEarly()
    {
        const QString server = TestDatabases::PgServer();
        REQUIRE_PG(server);
        const Database &db = ReadSessions::For(server);
        {
            auto cursor = db.Select(QStringLiteral("SELECT g, repeat('x', 100) FROM generate_series(1, 50000000) g"));
            QVERIFY(cursor->Next());
            QCOMPARE(cursor->Int(0), qint64(1));
        }
        QCOMPARE(runningLike(db, QStringLiteral("%generate_series(1, 50000000)%")), qint64(0));
    }

    // Values as the component reads them: a binary COPY where it decodes every type, text rows
    // otherwise (the timestamp column); the text is the server's own.
    void pgValues_data()
    {
        QTest::addColumn<PgValue>("row");
        const QVariant none;
        QTest::newRow("bigint") << PgValue{"SELECT CAST(? AS bigint)", QVariantList{qint64(-123456789012)}, "-123456789012",
                                QVariant(qint64(-123456789012))};
        QTest::newRow("smallint") << PgValue{"SELECT CAST(-7 AS smallint)", QVariantList{}, "-7", QVariant(qint64(-7))};
        QTest::newRow("bool") << PgValue{"SELECT ? > 1", QVariantList{2}, "t", QVariant(qint64(1))};
        QTest::newRow("float_param") << PgValue{"SELECT CAST(? * 4 AS bigint)", QVariantList{2.5}, "10", QVariant(qint64(10))};
        QTest::newRow("sum_past_double") << PgValue{"SELECT SUM(x) FROM (VALUES (9007199254740993), (1)) v(x)", QVariantList{},
                                         "9007199254740994", QVariant(qint64(9007199254740994))};
        QTest::newRow("numeric_fraction") << PgValue{"SELECT -12.5::numeric", QVariantList{}, "-12.5", QVariant(qint64(-12))};
        QTest::newRow("numeric_small") << PgValue{"SELECT -0.0500::numeric", QVariantList{}, "-0.0500", QVariant(qint64(0))};
        QTest::newRow("numeric_groups") << PgValue{"SELECT 100000000.00010::numeric", QVariantList{}, "100000000.00010",
                                        QVariant(qint64(100000000))};
        QTest::newRow("text_and_quoted_mark") << PgValue{"SELECT '?' || ?", QVariantList{QStringLiteral("乙😀")}, "?乙😀", none};
        QTest::newRow("null_param") << PgValue{"SELECT coalesce(?, 'none')", QVariantList{QVariant(QMetaType::fromType<QString>())},
                                    "none", none};
        QTest::newRow("inferred_timestamp")
            << PgValue{"SELECT count(*) FROM generate_series(timestamp '2024-01-01', '2024-01-03', '1 day') d WHERE d >= ?",
            QVariantList{QStringLiteral("2024-01-02 00:00:00")}, "2", QVariant(qint64(2))};
        QTest::newRow("timestamp_column") << PgValue{"SELECT timestamp '2024-01-02 03:04:05'", QVariantList{},
                                          "2024-01-02 03:04:05", none};
        QTest::newRow("empty") << PgValue{"SELECT ''", QVariantList{}, "", none};
        QTest::newRow("null") << PgValue{"SELECT CAST(NULL AS text)", QVariantList{}, QString(), none};
    }

    void pgValues()
    {
        QFETCH(PgValue, row);
        const auto &[sql, params, text, integer] = row;
        const QString server = TestDatabases::PgServer();
        REQUIRE_PG(server);
        auto cursor = ReadSessions::For(server).Select(sql, params);
        QVERIFY(cursor->Next());
        QCOMPARE(cursor->IsNull(0), text.isNull());
        QCOMPARE(cursor->TextOrNull(0).toString(), text);
        if (integer.isValid()) {
            QCOMPARE(cursor->Int(0), integer.toLongLong());
            QCOMPARE(cursor->Double(0), text == u"t" ? 1.0 : text.toDouble());
        }
        QVERIFY(!cursor->Next());
    }

    // Rows of several columns with bound values, as the reports read them (each row one record
    // where the query's form allows it); forms a record would change keep their own meaning.
    // Expected: columns split by '|', rows by '/', NULL as '∅'.
    void pgRowShapes_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QVariantList>("params");
        QTest::addColumn<QString>("rows");
        QTest::newRow("every type") << "SELECT CAST(? AS bigint), 'a,(b' || ?, CAST(NULL AS text), -12.5::numeric, g.g > 1, '' "
                                       "FROM generate_series(1, 2) g ORDER BY g.g DESC"
                                    << QVariantList{7, QStringLiteral("乙")} << "7|a,(b乙|∅|-12.5|t|/7|a,(b乙|∅|-12.5|f|";
        QTest::newRow("keywords in text") << "SELECT g.g, 'FROM (x) ORDER BY 1' || ? FROM generate_series(1, 2) g ORDER BY g.g"
                                          << QVariantList{QStringLiteral("'")} << "1|FROM (x) ORDER BY 1'/2|FROM (x) ORDER BY 1'";
        QTest::newRow("escape") << "SELECT g.g, 'a_b' LIKE ? ESCAPE '\\', E'it\\'s' FROM generate_series(1, 2) g ORDER BY g.g"
                                << QVariantList{QStringLiteral("a\\_b")} << "1|t|it's/2|t|it's";
        QTest::newRow("order by position") << "SELECT g, -g FROM generate_series(1, 3) g WHERE g >= ? ORDER BY 2"
                                           << QVariantList{1} << "3|-3/2|-2/1|-1";
        QTest::newRow("group by position") << "SELECT g.g % 2, count(*) FROM generate_series(1, 5) g WHERE g.g > ? GROUP BY 1 ORDER BY 1"
                                           << QVariantList{0} << "0|2/1|3";
        QTest::newRow("alias without AS") << "SELECT -g.g n, g.g + ? FROM generate_series(1, 3) g ORDER BY -g.g"
                                          << QVariantList{0} << "-3|3/-2|2/-1|1";
        QTest::newRow("order by an output name two inputs share")
            << "SELECT a.x, a.y FROM (VALUES (1, 2), (2, 1)) a(x, y) JOIN (VALUES (1, 5), (2, 6)) b(x, z) ON b.x = a.x "
               "WHERE a.x >= ? ORDER BY x DESC"
            << QVariantList{1} << "2|1/1|2";
        QTest::newRow("union") << "SELECT 2, ? UNION ALL SELECT 1, 'y' ORDER BY 1" << QVariantList{QStringLiteral("x")} << "1|y/2|x";
        QTest::newRow("distinct") << "SELECT DISTINCT g.g % 2, ? FROM generate_series(1, 4) g ORDER BY 1"
                                  << QVariantList{QStringLiteral("x")} << "0|x/1|x";
    }

    void pgRowShapes()
    {
        QFETCH(QString, sql);
        QFETCH(QVariantList, params);
        QFETCH(QString, rows);
        const QString server = TestDatabases::PgServer();
        REQUIRE_PG(server);
        const int columns = int(rows.section(u'/', 0, 0).count(u'|')) + 1;
        auto cursor = ReadSessions::For(server).Select(sql, params);
        QStringList read;
        while (cursor->Next()) {
            QStringList row;
            for (int c = 0; c < columns; ++c)
                row << (cursor->IsNull(c) ? QStringLiteral("∅") : cursor->TextOrNull(c).toString());
            read << row.join(u'|');
        }
        QCOMPARE(read.join(u'/'), rows);
    }

    // A query that waits on another session's lock, runs too long, or waits on a backend that
    // stopped answering (SIGSTOP: its kernel still acknowledges) ends with the limit named. A
    // backend stopped in the middle of its rows is cut at the limit too, whether the rows come as
    // a COPY (no values) or as results of a query with bound values (cutting a COPY used to spin:
    // it answers every PQgetResult alike).
    void pgSessionLimits_data()
    {
        QTest::addColumn<Limits>("row");
        const QString stopped = QStringLiteral("（连接文本的 Timeout），数据库服务器");
        QTest::newRow("lock_timeout") << Limits{";LockTimeout=1", true, Stop::Never, "SELECT count(*) FROM item", {},
                                      "（连接文本的 LockTimeout）"};
        QTest::newRow("statement_timeout") << Limits{";Timeout=1", false, Stop::Never, "SELECT pg_sleep(30)", {},
                                           "（连接文本的 Timeout），已被数据库服务器停止"};
        QTest::newRow("backend_stopped") << Limits{";Timeout=1;KeepAlive=1", false, Stop::Before, "SELECT count(*) FROM item",
                                         {}, stopped};
        // Two small series crossed: rows from the start (one series of all would be built first).
        const QString crossed = QStringLiteral("SELECT a, b, repeat('x', 100) FROM generate_series(1, 20000) a, "
                                               "generate_series(1, 20000) b");
        QTest::newRow("backend_stopped_mid_copy") << Limits{";Timeout=1;KeepAlive=1", false, Stop::MidRead, crossed, {}, stopped};
        QTest::newRow("backend_stopped_mid_bound_rows") << Limits{";Timeout=1;KeepAlive=1", false, Stop::MidRead,
                                                        crossed + " WHERE a > ?", {0}, stopped};
        QTest::newRow("server_stopped_copy_left") << Limits{";Timeout=1;KeepAlive=1", false, Stop::MidReadLeft, crossed, {}, {}};
        QTest::newRow("server_stopped_bound_rows_left") << Limits{";Timeout=1;KeepAlive=1", false, Stop::MidReadLeft,
                                                        crossed + " WHERE a > ?", {0}, {}};
    }

    void pgSessionLimits()
    {
        QFETCH(Limits, row);
        const auto &[limits, holdLock, stop, sql, params, expected] = row;
        REQUIRE_PG(TestDatabases::PgServer());
        const QString props = m_tables.Engines().back().props;
        auto holder = Database::OpenForWriting(props);
        if (holdLock) {
            holder->Exec(QStringLiteral("BEGIN"));
            holder->Exec(QStringLiteral("LOCK TABLE item IN ACCESS EXCLUSIVE MODE"));
        }
        const Database &session = ReadSessions::For(props + limits);
        pid_t backend = 0;
        pid_t postmaster = 0;
        std::atomic<bool> done{false};
        std::atomic<bool> resumed{false};
        std::thread resume;
        if (stop != Stop::Never) {
            auto pid = session.Select(QStringLiteral("SELECT pg_backend_pid()"));
            QVERIFY(pid->Next());
            backend = pid_t(pid->Int(0));
            QVERIFY(!pid->Next());   // read to its end: a cursor left early sends a cancel
            if (stop == Stop::Before)
                QCOMPARE(::kill(backend, SIGSTOP), 0);
            // Resumed in any case, so that a client without its own bound ends with the server's text.
            resume = std::thread([&] {
                for (int i = 0; i < 150 && !done; ++i)
                    QThread::msleep(100);
                resumed = !done;
                if (postmaster > 0)
                    ::kill(postmaster, SIGCONT);
                ::kill(backend, SIGCONT);
            });
        }
        bool read = false;
        const QString message = ErrorOf([&] {
            for (auto cursor = session.Select(sql, params); cursor->Next(); read = true) {
                if (stop == Stop::MidRead && !read)
                    QCOMPARE(::kill(backend, SIGSTOP), 0);
                if (stop == Stop::MidReadLeft) {
                    postmaster = parentOf(backend);
                    QVERIFY(postmaster > 1);
                    QCOMPARE(::kill(postmaster, SIGSTOP), 0);
                    QCOMPARE(::kill(backend, SIGSTOP), 0);
                    break;
                }
            }
        });
        done = true;
        if (resume.joinable())
            resume.join();
        // The client's own bound ended the wait, not the server's resumption.
        QVERIFY(!resumed);
        if (holdLock)
            holder->Exec(QStringLiteral("ROLLBACK"));
        holder.reset();
        QVERIFY2(message.contains(expected), qPrintable(message));
    }

    void readOnlySession()
    {
        for (const auto &engine : m_tables.Engines()) {
            const Database &db = ReadSessions::For(engine.props);
            QVERIFY2(!ErrorOf([&] { db.Exec(QStringLiteral("INSERT INTO unit VALUES (1, '01', 'x')")); }).isEmpty(),
                     qPrintable(engine.name));
        }
    }

    // A read stopped from another thread ends as cancelled and leaves the pooled session idle and
    // usable; a component interrupted before its request stops that request only.
    void interruptedRead()
    {
        const QString endless = QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) "
                                               "SELECT count(*) FROM n");
        for (const auto &engine : m_tables.Engines()) {
            const Database &db = ReadSessions::For(engine.props);
            {
                Database::Request request(db);
                std::thread stopper([&] {
                    QThread::msleep(200);
                    request.Interrupt();
                });
                const QString message = outcome([&] { db.Select(endless)->Next(); });
                stopper.join();
                QCOMPARE(message, QStringLiteral("cancelled"));
            }
            if (engine.name == u"postgresql")
                QCOMPARE(runningLike(*Database::OpenForWriting(engine.props), QStringLiteral("%WITH RECURSIVE n(x)%"), true),
                         qint64(0));

            GLData data(BranchScope::HeadOffice());
            data.SetRptID(10906);
            DictionaryPtr filter = Dictionary::Create();
            data.Interrupt();
            QCOMPARE(outcome([&] { data.GetRptData(engine.props, filter); }), QStringLiteral("cancelled"));
            QVERIFY(Vel::AsRecordset(data.GetRptData(engine.props, filter)));
            QCOMPARE(&ReadSessions::For(engine.props), &db);
        }
    }

    void cleanupTestCase() { m_tables.Drop(); }

private:
    QTemporaryDir m_dir;
    TestDatabases m_tables;     // the schema without rows, on each engine
};

QTEST_GUILESS_MAIN(tst_ServerConnection)
#include "tst_serverconnection.moc"
