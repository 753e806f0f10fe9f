#include "DemoWriter.h"

#include "ConnectionText.h"
#include "Database.h"
#include "DbDriver.h"
#include "Schema.h"
#include "VelError.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <charconv>
#include <string>
#include <vector>

namespace {

class SqliteWriter final : public DemoWriter
{
public:
    explicit SqliteWriter(const QString &path)
    {
        const QByteArray file = path.toUtf8();
        if (sqlite3_open_v2(file.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            fail(QStringLiteral("无法创建数据库文件 %1").arg(path));
        m_stopHook = std::make_unique<Database::StopHook>([db = m_db] { sqlite3_interrupt(db); });
        for (const char *pragma : {"PRAGMA journal_mode=OFF", "PRAGMA synchronous=OFF", "PRAGMA locking_mode=EXCLUSIVE",
                                   "PRAGMA cache_size=-262144", "PRAGMA temp_store=MEMORY", "PRAGMA page_size=8192"})
            exec(pragma);
        // The schema text of the engine-neutral schema, for SQLite.
        const std::unique_ptr<DbDriver> driver = DbDriver::Create(ConnectionText::Parse(QStringLiteral("Driver=SQLite;Database=x")));
        for (const QString &ddl : Schema::TableStatements(*driver))
            exec(ddl.toUtf8().constData());
        m_indexes = Schema::IndexStatements(*driver);
        m_ledger = Schema::LedgerStatements(*driver);
        exec("BEGIN");
    }
    ~SqliteWriter() override
    {
        m_stopHook.reset();
        for (sqlite3_stmt *s : m_statements)
            sqlite3_finalize(s);
        sqlite3_close(m_db);
    }

    int Table(const char *name, int columns) override
    {
        std::string sql = std::string("INSERT INTO ") + name + " VALUES (";
        for (int i = 0; i < columns; ++i)
            sql += i ? ",?" : "?";
        sql += ")";
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), int(sql.size()), &stmt, nullptr) != SQLITE_OK)
            fail(QStringLiteral("无法准备写入 %1").arg(QString::fromUtf8(name)));
        m_statements.push_back(stmt);
        return int(m_statements.size() - 1);
    }

    void Row(int table, std::initializer_list<DemoCell> cells) override
    {
        sqlite3_stmt *stmt = m_statements[size_t(table)];
        int i = 1;
        for (const DemoCell &c : cells) {
            switch (c.type) {
            case DemoCell::Null: sqlite3_bind_null(stmt, i); break;
            case DemoCell::Int: sqlite3_bind_int64(stmt, i, c.i); break;
            case DemoCell::Text: sqlite3_bind_text(stmt, i, c.s.data(), int(c.s.size()), SQLITE_STATIC); break;
            }
            ++i;
        }
        if (sqlite3_step(stmt) != SQLITE_DONE)
            fail(QStringLiteral("写入失败"));
        sqlite3_reset(stmt);
    }

    void Finish(const std::function<void(QString)> &progress) override
    {
        for (const QString &ddl : m_indexes) {
            progress(QStringLiteral("正在建立索引：%1").arg(ddl.section(u' ', 2, 2)));
            exec(ddl.toUtf8().constData());
        }
        progress(QStringLiteral("正在建立储值积分余额账"));
        for (const QString &ddl : m_ledger)
            exec(ddl.toUtf8().constData());
        progress(QStringLiteral("正在统计数据分布"));
        exec("ANALYZE");
        exec("COMMIT");
    }

private:
    void exec(const char *sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            const QString text = QString::fromUtf8(error ? error : "");
            sqlite3_free(error);
            throw VelError(QStringLiteral("写入数据库失败：%1").arg(text));
        }
    }
    [[noreturn]] void fail(const QString &what)
    {
        throw VelError(QStringLiteral("%1：%2").arg(what, QString::fromUtf8(sqlite3_errmsg(m_db))));
    }

    sqlite3 *m_db = nullptr;
    std::unique_ptr<Database::StopHook> m_stopHook;   // interrupts the running statement
    std::vector<sqlite3_stmt *> m_statements;
    QStringList m_indexes;
    QStringList m_ledger;
};

// PostgreSQL through libpq's COPY: rows go out in COPY's text format, a buffer per table sent
// as one COPY when it fills, everything in one transaction with the tables created in it.
// The server parses while the generator goes on; indexes and ledger are built in the same
// transaction, so a stopped or failed load leaves nothing. libpq is used here only, for loading.
class CopyWriter final : public DemoWriter
{
public:
    CopyWriter(const QString &connectionText, const std::optional<Schema::MonthlyPartitions> &partitions)
        : m_text(ConnectionText::Parse(connectionText)), m_partitioned(partitions.has_value())
    {
        m_driver = DbDriver::Create(m_text);
        connect();
        if ((m_cancel = PQgetCancel(m_conn))) {
            m_stopHook = std::make_unique<Database::StopHook>([cancel = m_cancel] {
                char error[256];
                PQcancel(cancel, error, sizeof error);
            });
        }
        if (scalar("SELECT count(*) FROM information_schema.tables WHERE table_name = 'sale_line'") > 0)
            throw VelError(QStringLiteral("目标数据库中已经有门店数据，请使用一个空的数据库"));
        exec("SET client_min_messages = warning");
        exec("SET synchronous_commit = off");
        exec("SET maintenance_work_mem = '256MB'");
        exec("BEGIN");
        for (const QString &ddl : Schema::TableStatements(*m_driver, partitions))
            exec(ddl.toUtf8());
    }
    ~CopyWriter() override
    {
        m_stopHook.reset();
        if (m_cancel)
            PQfreeCancel(m_cancel);
        if (!m_conn)
            return;
        // Rolled back before leaving, so that the tables are gone when the command ends.
        if (PQtransactionStatus(m_conn) != PQTRANS_IDLE)
            PQclear(PQexec(m_conn, "ROLLBACK"));
        PQfinish(m_conn);
    }

    int Table(const char *name, int) override
    {
        // A partitioned table's rows go straight to their month's partition (the generator writes
        // them in date order): no routing, and COPY can freeze them there.
        const qint64 dateColumn = !m_partitioned ? 0
            : scalar(("SELECT COALESCE((SELECT a.attnum FROM pg_catalog.pg_attribute a JOIN pg_catalog.pg_class c ON c.oid = a.attrelid "
                      "WHERE c.oid = to_regclass('" + std::string(name) + "') AND c.relkind = 'p' AND a.attname = 'fdate'), 0)").c_str());
        m_tables.push_back({name, {}, int(dateColumn) - 1, {}});
        m_tables.back().data.reserve(flushBytes + 4096);
        return int(m_tables.size() - 1);
    }

    void Row(int table, std::initializer_list<DemoCell> cells) override
    {
        Pending &t = m_tables[size_t(table)];
        if (t.dateColumn >= 0) {
            const std::string_view date = (cells.begin() + t.dateColumn)->s;    // yyyy-MM-dd HH:mm:ss
            if (date.size() < 7)
                throw VelError(QStringLiteral("%1 的日期无效").arg(QString::fromStdString(t.table)));
            const char month[] = {date[0], date[1], date[2], date[3], date[5], date[6]};
            if (t.month.compare(0, std::string::npos, month, sizeof month) != 0) {
                flush(t);
                t.month.assign(month, sizeof month);
            }
        }
        std::string &out = t.data;
        bool first = true;
        for (const DemoCell &c : cells) {
            if (!first)
                out += '\t';
            first = false;
            switch (c.type) {
            case DemoCell::Null: out += "\\N"; break;
            case DemoCell::Int: {
                char buf[24];
                const auto r = std::to_chars(buf, buf + sizeof buf, c.i);
                out.append(buf, r.ptr);
                break;
            }
            case DemoCell::Text:
                for (char ch : c.s) {
                    switch (ch) {
                    case '\\': out += "\\\\"; break;
                    case '\t': out += "\\t"; break;
                    case '\n': out += "\\n"; break;
                    case '\r': out += "\\r"; break;
                    default: out += ch;
                    }
                }
                break;
            }
        }
        out += '\n';
        if (out.size() >= flushBytes)
            flush(t);
    }

    void Finish(const std::function<void(QString)> &progress) override
    {
        for (Pending &t : m_tables)
            flush(t);
        for (const QString &ddl : Schema::IndexStatements(*m_driver, m_partitioned)) {
            progress(QStringLiteral("正在建立索引：%1").arg(ddl.section(u' ', 2, 2)));
            exec(ddl.toUtf8());
        }
        progress(QStringLiteral("正在建立储值积分余额账"));
        for (const QString &ddl : Schema::LedgerStatements(*m_driver))
            exec(ddl.toUtf8());
        progress(QStringLiteral("正在统计数据分布"));
        exec("COMMIT");
        // VACUUM for the ledger's visibility map; the COPYed tables are frozen already. The chain
        // is whole without it: a stop here leaves the statistics to autovacuum.
        try {
            if (!Database::Stopping())
                exec("VACUUM (ANALYZE)");
        } catch (const VelError &) {
            if (!Database::Stopping())
                throw;
        }
    }

private:
    static constexpr size_t flushBytes = 4 << 20;
    // Rows of a table waiting for COPY; with a date column, all of one month (yyyymm).
    struct Pending { std::string table; std::string data; int dateColumn; std::string month; };

    void connect()
    {
        const QByteArray host = (m_text.Host().trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : m_text.Host().trimmed()).toUtf8();
        const QByteArray port = QByteArray::number(m_text.Port(5432));
        const QByteArray db = m_text.Database().toUtf8(), user = m_text.User().toUtf8(), password = m_text.Password().toUtf8();
        const char *keys[] = {"host", "port", "dbname", "user", "password", "connect_timeout", "client_encoding",
                              "application_name", nullptr};
        const char *values[] = {host.constData(), port.constData(), db.constData(), user.constData(), password.constData(),
                                "5", "UTF8", "velvip-make-demo", nullptr};
        m_conn = PQconnectdbParams(keys, values, 0);
        if (PQstatus(m_conn) != CONNECTION_OK && !m_text.NamesShown())
            throw VelError(QStringLiteral("无法连接数据库服务器 %1:%2").arg(QString::fromUtf8(host), QString::fromUtf8(port)));
        if (PQstatus(m_conn) != CONNECTION_OK)
            fail(QStringLiteral("无法连接数据库服务器 %1:%2").arg(QString::fromUtf8(host), QString::fromUtf8(port)));
    }

    void exec(const QByteArray &sql)
    {
        PGresult *r = PQexec(m_conn, sql.constData());
        const ExecStatusType status = PQresultStatus(r);
        PQclear(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            fail(QStringLiteral("写入数据库失败"));
    }

    qint64 scalar(const char *sql)
    {
        PGresult *r = PQexec(m_conn, sql);
        const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1;
        const qint64 v = ok ? QByteArray(PQgetvalue(r, 0, 0)).toLongLong() : 0;
        PQclear(r);
        if (!ok)
            fail(QStringLiteral("查询失败"));
        return v;
    }

    void flush(Pending &t)
    {
        if (t.data.empty())
            return;
        // FREEZE: the tables were created in this transaction, so rows are written frozen once.
        const std::string target = t.dateColumn >= 0 ? t.table + '_' + t.month : t.table;
        PGresult *r = PQexec(m_conn, ("COPY " + target + " FROM STDIN (FREEZE)").c_str());
        const bool started = PQresultStatus(r) == PGRES_COPY_IN;
        PQclear(r);
        if (!started)
            fail(QStringLiteral("无法开始写入 %1").arg(QString::fromStdString(target)));
        if (PQputCopyData(m_conn, t.data.data(), int(t.data.size())) != 1 || PQputCopyEnd(m_conn, nullptr) != 1)
            fail(QStringLiteral("写入 %1 失败").arg(QString::fromStdString(t.table)));
        bool ok = true;
        while (PGresult *end = PQgetResult(m_conn)) {
            ok = ok && PQresultStatus(end) == PGRES_COMMAND_OK;
            PQclear(end);
        }
        if (!ok)
            fail(QStringLiteral("写入 %1 失败").arg(QString::fromStdString(t.table)));
        t.data.clear();
    }

    // libpq's messages never repeat the password, so they are shown as they are.
    [[noreturn]] void fail(const QString &what) const
    {
        const QString detail = QString::fromUtf8(m_conn ? PQerrorMessage(m_conn) : "").trimmed();
        throw VelError(QStringLiteral("%1：%2").arg(what, detail));
    }

    ConnectionText m_text;
    bool m_partitioned;
    std::unique_ptr<DbDriver> m_driver;
    PGconn *m_conn = nullptr;
    PGcancel *m_cancel = nullptr;
    std::unique_ptr<Database::StopHook> m_stopHook;   // sends a cancel request
    std::vector<Pending> m_tables;
};

} // namespace

std::unique_ptr<DemoWriter> DemoWriter::ForSqliteFile(const QString &path)
{
    return std::make_unique<SqliteWriter>(path);
}

std::unique_ptr<DemoWriter> DemoWriter::ForConnection(const QString &connectionText,
                                                      const std::optional<Schema::MonthlyPartitions> &partitions)
{
    return std::make_unique<CopyWriter>(connectionText, partitions);
}
