// The SQLite engine: files opened as paths, read-only report sessions, rows read straight from
// the SQLite handle that Qt's driver opened.
#include "DbDriver.h"

#include "AtomicFile.h"
#include "RowCursor.h"
#include "TextFold.h"
#include "Utf8Text.h"
#include "VelError.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>

#include <new>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// One sentence naming the cause of an SQLite failure on the file `path`, from the result code.
// SQLite's own messages never hold a connection text, so its text may follow as the detail.
QString sqliteErrorText(sqlite3 *db, const QString &path, const QString &what)
{
    const int code = sqlite3_extended_errcode(db);
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("数据库文件 %1 正被其他程序锁住写入，请等它写完后再试").arg(path);
    case SQLITE_READONLY:
        if (code == SQLITE_READONLY_ROLLBACK || QFileInfo::exists(path + QStringLiteral("-journal")))
            return QStringLiteral("数据库文件 %1 上次写入时中断，留下了待恢复的日志 %1-journal，"
                                  "请先用有写权限的程序打开它一次完成恢复").arg(path);
        return QStringLiteral("数据库文件 %1 只能读取，无法完成需要写入的操作").arg(path);
    case SQLITE_NOTADB:
        return QStringLiteral("%1 不是 SQLite 数据库文件").arg(path);
    case SQLITE_CORRUPT:
        return QStringLiteral("数据库文件 %1 已损坏").arg(path);
    case SQLITE_CANTOPEN:
        return QStringLiteral("无法打开数据库文件 %1（文件不存在或没有读取权限）").arg(path);
    case SQLITE_INTERRUPT:
        return QStringLiteral("已取消");
    case SQLITE_NOMEM:
        throw std::bad_alloc();   // said like any other failed allocation
    default:
        return QStringLiteral("%1：%2").arg(what, QString::fromUtf8(sqlite3_errmsg(db)));
    }
}

Vel::ErrorKind sqliteErrorKind(sqlite3 *db)
{
    switch (sqlite3_extended_errcode(db) & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Vel::ErrorKind::Timeout;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
        return Vel::ErrorKind::Unavailable;
    case SQLITE_INTERRUPT:
        return Vel::ErrorKind::Cancelled;
    default:
        return Vel::ErrorKind::Internal;
    }
}

// The SQLite handle that QSQLITE opened, or null.
sqlite3 *sqliteHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(handle.data());
    return nullptr;
}

// Rows straight from the SQLite handle that QSQLITE opened: no Variant per cell.
class SqliteCursor final : public RowCursor
{
public:
    SqliteCursor(sqlite3 *db, const QString &sql, const QVariantList &params) : m_db(db)
    {
        if (sqlite3_prepare16_v2(db, sql.utf16(), int(sql.size() * 2), &m_stmt, nullptr) != SQLITE_OK)
            fail(QStringLiteral("查询准备失败"));
        int i = 1;
        for (const QVariant &p : params) {
            int rc = SQLITE_OK;
            if (p.isNull()) {
                rc = sqlite3_bind_null(m_stmt, i);
            } else {
                switch (p.typeId()) {
                case QMetaType::Int: case QMetaType::LongLong: case QMetaType::Short:
                case QMetaType::UInt: case QMetaType::Bool:
                    rc = sqlite3_bind_int64(m_stmt, i, p.toLongLong());
                    break;
                case QMetaType::Double:
                    rc = sqlite3_bind_double(m_stmt, i, p.toDouble());
                    break;
                default: {
                    const QString s = p.toString();
                    rc = sqlite3_bind_text16(m_stmt, i, s.utf16(), int(s.size() * 2), SQLITE_TRANSIENT);
                }
                }
            }
            if (rc != SQLITE_OK)
                fail(QStringLiteral("查询参数绑定失败"));
            ++i;
        }
    }
    ~SqliteCursor() override { sqlite3_finalize(m_stmt); }

    bool Next() override
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail(QStringLiteral("查询失败"));
        return false;
    }
    bool IsNull(int c) const override { return sqlite3_column_type(m_stmt, c) == SQLITE_NULL; }
    qint64 Int(int c) const override { return sqlite3_column_int64(m_stmt, c); }
    double Double(int c) const override { return sqlite3_column_double(m_stmt, c); }
    QStringView Text(int c) const override
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, c));
        return p ? m_text.Widen(p, sqlite3_column_bytes(m_stmt, c)) : QStringView();
    }
    // SQLite gives a null pointer for NULL only; an empty text comes back as the buffer.
    QStringView TextOrNull(int c) const override { return Text(c); }

private:
    [[noreturn]] void fail(const QString &what) const
    {
        const char *file = sqlite3_db_filename(m_db, "main");
        throw VelError(sqliteErrorText(m_db, QString::fromUtf8(file ? file : ""), what), 0, QString(), sqliteErrorKind(m_db));
    }
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    Utf8Text m_text;
};

// sqlite3_interrupt stops the running statement; the progress handler also stops one that
// starts after it, which sqlite3_interrupt alone would let run, and the busy handler (in place
// of the busy timeout the session opened with) stops a wait for a writer's lock.
class SqliteInterrupter final : public DbDriver::Interrupter
{
public:
    SqliteInterrupter(sqlite3 *db, int lockTimeoutMs, const std::atomic<bool> &stop)
        : m_db(db), m_lockTimeoutMs(lockTimeoutMs), m_stop(stop)
    {
        sqlite3_progress_handler(m_db, 1000, [](void *self) {
            return int(static_cast<SqliteInterrupter *>(self)->m_stop.load(std::memory_order_relaxed));
        }, this);
        sqlite3_busy_handler(m_db, [](void *self, int tries) {
            const auto *me = static_cast<SqliteInterrupter *>(self);
            if (me->m_stop || qint64(tries) * pollMs >= me->m_lockTimeoutMs)
                return 0;
            sqlite3_sleep(pollMs);
            return 1;
        }, this);
    }
    ~SqliteInterrupter() override
    {
        sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
        sqlite3_busy_timeout(m_db, m_lockTimeoutMs);
    }
    void Interrupt() override { sqlite3_interrupt(m_db); }

private:
    static constexpr int pollMs = 10;
    sqlite3 *m_db;
    int m_lockTimeoutMs;
    const std::atomic<bool> &m_stop;
};

class SqliteDriver final : public DbDriver
{
    // The busy wait for a locked file: LockTimeout, or a day for "no limit".
    static int lockTimeoutMs(const ConnectionText &text)
    {
        return text.LockTimeout() > 0 ? text.LockTimeout() * 1000 : 86400 * 1000;
    }

public:
    QString Name() const override { return QStringLiteral("SQLite"); }
    QString QtDriverName() const override { return QStringLiteral("QSQLITE"); }

    void Open(QSqlDatabase &db, const ConnectionText &text, bool readOnly) const override
    {
        // An absolute path is never read as a URI, whatever SQLite was built with.
        const QFileInfo info(text.Database());
        // The path as the messages name it.
        const QString given = text.Shown(text.Database()).isEmpty() ? QStringLiteral("（所给的文件）") : text.Database();
        const QString path = info.absoluteFilePath();
        if (info.isDir())
            throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("%1 是一个文件夹，不是数据库文件").arg(given));
        if (readOnly && !info.exists())
            throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("数据库文件不存在：%1").arg(given));
        RequireRegularFile(given);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("%1QSQLITE_BUSY_TIMEOUT=%2")
                                 .arg(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;") : QString())
                                 .arg(lockTimeoutMs(text)));
        if (!db.open())
            throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("无法打开数据库文件 %1（文件不存在或没有读取权限）").arg(given));
        sqlite3 *handle = sqliteHandle(db);
        if (!handle)
            throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("无法打开数据库文件 %1").arg(given));
        // The first read finds locks, hot journals and files that are not databases.
        const char *probe = readOnly
            ? "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('sale_bill', 'member_card')"
            : "SELECT count(*) FROM sqlite_master";
        sqlite3_stmt *stmt = nullptr;
        int rc = sqlite3_prepare_v2(handle, probe, -1, &stmt, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_step(stmt);
        const int tables = rc == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
        const QString failure = rc == SQLITE_ROW ? QString() : sqliteErrorText(handle, given, QStringLiteral("无法读取数据库文件"));
        sqlite3_finalize(stmt);
        if (!failure.isEmpty())
            throw VelError(Vel::ErrorKind::Unavailable, failure);
        if (readOnly && tables < 2)
            throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("%1 不是会员报表的连锁数据库（没有销售单和会员卡表）").arg(given));
        TextFold::RegisterSqlite(handle);
    }

    std::unique_ptr<Interrupter> NewInterrupter(const QSqlDatabase &db, const ConnectionText &text,
                                                const std::atomic<bool> &stop) const override
    {
        sqlite3 *handle = sqliteHandle(db);
        return handle ? std::make_unique<SqliteInterrupter>(handle, lockTimeoutMs(text), stop) : nullptr;
    }

    QByteArray Identity(const ConnectionText &text) const override
    {
        struct stat st {};
        if (::stat(QFile::encodeName(QFileInfo(text.Database()).absoluteFilePath()).constData(), &st) != 0)
            return QByteArrayLiteral("missing");
        // Size and modification time too: a file overwritten in place (cp) keeps its inode, and
        // when its change counter happens to match, SQLite would read the new file through the
        // old pages in its cache. (PRAGMA data_version moves on that same counter, so it cannot
        // tell either.)
        return QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino)) + ':'
            + QByteArray::number(qint64(st.st_size)) + ':' + QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.'
            + QByteArray::number(qint64(st.st_mtim.tv_nsec));
    }

    SchemaTypes Types() const override
    {
        return {QStringLiteral("INTEGER PRIMARY KEY"), QStringLiteral("INTEGER"), QStringLiteral("TEXT"),
                QStringLiteral("TEXT"), QStringLiteral("TEXT")};
    }
    QString DateTimeText(const QString &expr) const override { return expr; }
    QString FoldedText(const QString &expr) const override { return QStringLiteral("vel_fold(%1)").arg(expr); }

    std::unique_ptr<RowCursor> Select(const QSqlDatabase &db, const QString &sql,
                                      const QVariantList &params) const override
    {
        if (sqlite3 *h = sqliteHandle(db))
            return std::make_unique<SqliteCursor>(h, sql, params);
        return DbDriver::Select(db, sql, params);
    }
};

} // namespace

std::unique_ptr<DbDriver> DbDriver::NewSqlite(const ConnectionText &)
{
    return std::make_unique<SqliteDriver>();
}
