#include "DemoWriter.h"

#include "Database.h"
#include "RowCursor.h"
#include "Schema.h"
#include "VelError.h"

#include <QSqlDriver>
#include <QSqlQuery>

#include <sqlite3.h>

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
        exec("COMMIT");
        progress(QStringLiteral("正在统计数据分布"));
        exec("ANALYZE");
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
    std::vector<sqlite3_stmt *> m_statements;
    QStringList m_indexes;
    QStringList m_ledger;
};

// Multi-row INSERTs of literal values in one transaction (QPSQL has no COPY).
class SqlWriter final : public DemoWriter
{
public:
    explicit SqlWriter(const QString &connectionText) : m_db(Database::OpenForWriting(connectionText))
    {
        auto exists = m_db->Select(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_name = 'sale_line'"));
        if (exists->Next() && exists->Int(0) > 0)
            throw VelError(QStringLiteral("目标数据库中已经有门店数据，请使用一个空的数据库"));
        exists.reset();
        for (const QString &ddl : Schema::TableStatements(m_db->Driver()))
            m_db->Exec(ddl);
        m_db->Exec(QStringLiteral("BEGIN"));
    }

    int Table(const char *name, int) override
    {
        m_tables.push_back({QString::fromUtf8(name), {}, 0});
        return int(m_tables.size() - 1);
    }

    void Row(int table, std::initializer_list<DemoCell> cells) override
    {
        Pending &t = m_tables[size_t(table)];
        t.sql += t.rows ? ",(" : "(";
        bool first = true;
        for (const DemoCell &c : cells) {
            if (!first)
                t.sql += ',';
            first = false;
            switch (c.type) {
            case DemoCell::Null: t.sql += "NULL"; break;
            case DemoCell::Int: t.sql += std::to_string(c.i); break;
            case DemoCell::Text:
                t.sql += '\'';
                for (char ch : c.s) {
                    if (ch == '\'')
                        t.sql += '\'';
                    t.sql += ch;
                }
                t.sql += '\'';
                break;
            }
        }
        t.sql += ')';
        if (++t.rows >= 2000)
            flush(t);
    }

    void Finish(const std::function<void(QString)> &progress) override
    {
        for (Pending &t : m_tables)
            flush(t);
        m_db->Exec(QStringLiteral("COMMIT"));
        for (const QString &ddl : Schema::IndexStatements(m_db->Driver())) {
            progress(QStringLiteral("正在建立索引：%1").arg(ddl.section(u' ', 2, 2)));
            m_db->Exec(ddl);
        }
        progress(QStringLiteral("正在建立储值积分余额账"));
        Schema::BuildLedger(*m_db);
        progress(QStringLiteral("正在统计数据分布"));
        m_db->Exec(QStringLiteral("ANALYZE"));
    }

private:
    struct Pending { QString table; std::string sql; int rows; };
    void flush(Pending &t)
    {
        if (!t.rows)
            return;
        m_db->Exec(QStringLiteral("INSERT INTO %1 VALUES ").arg(t.table) + QString::fromUtf8(t.sql.data(), qsizetype(t.sql.size())));
        t.sql.clear();
        t.rows = 0;
    }

    std::unique_ptr<Database> m_db;
    std::vector<Pending> m_tables;
};

} // namespace

std::unique_ptr<DemoWriter> DemoWriter::ForSqliteFile(const QString &path)
{
    return std::make_unique<SqliteWriter>(path);
}

std::unique_ptr<DemoWriter> DemoWriter::ForConnection(const QString &connectionText)
{
    return std::make_unique<SqlWriter>(connectionText);
}
