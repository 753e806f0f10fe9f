#include "Database.h"

#include "RowCursor.h"
#include "VelError.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace {

std::mutex poolLock;

// Sessions must close before Qt's SQL globals go; the pool is emptied with the application
// object and otherwise left to process exit.
std::map<QString, std::unique_ptr<Database>> &pool()
{
    static auto *sessions = [] {
        qAddPostRoutine(Database::CloseAll);
        return new std::map<QString, std::unique_ptr<Database>>;
    }();
    return *sessions;
}

// Connection names never show the text, which may hold a password.
QString connectionName(const QString &text, const char *prefix)
{
    return QString::fromLatin1(prefix)
        + QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex());
}

// Rows of a cursor until the session is interrupted: rows the server sent before it stopped are
// not worked through.
class StoppableCursor final : public RowCursor
{
public:
    StoppableCursor(std::unique_ptr<RowCursor> rows, const std::atomic<bool> &stop)
        : m_rows(std::move(rows)), m_stop(stop) {}
    bool Next() override
    {
        if (m_stop.load(std::memory_order_relaxed))
            throw Vel::Cancelled();
        try {
            return m_rows->Next();
        } catch (const VelError &) {
            // The engine's own words for the stop (PostgreSQL's "canceling statement").
            if (m_stop)
                throw Vel::Cancelled();
            throw;
        }
    }
    bool IsNull(int c) const override { return m_rows->IsNull(c); }
    qint64 Int(int c) const override { return m_rows->Int(c); }
    double Double(int c) const override { return m_rows->Double(c); }
    QStringView Text(int c) const override { return m_rows->Text(c); }
    QStringView TextOrNull(int c) const override { return m_rows->TextOrNull(c); }

private:
    std::unique_ptr<RowCursor> m_rows;
    const std::atomic<bool> &m_stop;
};

// The sessions requests are reading on, and whether the process is stopping every read.
struct Requests
{
    std::mutex lock;
    std::multiset<const Database *> running;
    std::set<std::function<void()> *> hooks;
    bool stopAll = false;
};

// Never destroyed: a signal's watcher thread may stop requests while the process exits.
Requests &requests()
{
    static auto *r = new Requests;
    return *r;
}

} // namespace

Database::Request::Request(const Database &db) : m_db(db)
{
    Requests &r = requests();
    std::lock_guard guard(r.lock);
    m_db.m_stop = r.stopAll;
    r.running.insert(&m_db);
}

Database::Request::~Request()
{
    Requests &r = requests();
    std::lock_guard guard(r.lock);
    r.running.erase(r.running.find(&m_db));
    m_db.m_stop = false;
}

void Database::Request::Interrupt()
{
    std::lock_guard guard(requests().lock);
    m_db.m_stop = true;
    if (m_db.m_interrupter)
        m_db.m_interrupter->Interrupt();
}

void Database::StopAll()
{
    Requests &r = requests();
    std::lock_guard guard(r.lock);
    if (std::exchange(r.stopAll, true))
        return;
    for (const Database *db : r.running) {
        db->m_stop = true;
        if (db->m_interrupter)
            db->m_interrupter->Interrupt();
    }
    for (std::function<void()> *stop : r.hooks)
        (*stop)();
}

bool Database::Stopping()
{
    Requests &r = requests();
    std::lock_guard guard(r.lock);
    return r.stopAll;
}

Database::StopHook::StopHook(std::function<void()> stop) : m_stop(std::move(stop))
{
    Requests &r = requests();
    std::lock_guard guard(r.lock);
    if (r.stopAll)
        m_stop();
    r.hooks.insert(&m_stop);
}

Database::StopHook::~StopHook()
{
    Requests &r = requests();
    std::lock_guard guard(r.lock);
    r.hooks.erase(&m_stop);
}

Database::ReadSnapshot::ReadSnapshot(const Database &db) : m_db(db)
{
    m_db.Exec(m_db.Driver().Name() == u"SQLite" ? QStringLiteral("BEGIN")
                                                : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
}

Database::ReadSnapshot::~ReadSnapshot()
{
    // It only read: ending it either way is the same, and a broken session is dropped anyway.
    try {
        m_db.Exec(QStringLiteral("ROLLBACK"));
    } catch (const VelError &) {
    }
}

Database::Database(const QString &text, const QString &name, bool readOnly)
    : m_text(ConnectionText::Parse(text)), m_name(name)
{
    m_driver = DbDriver::Create(m_text);
    m_db = QSqlDatabase::addDatabase(m_driver->QtDriverName(), m_name);
    try {
        m_identity = m_driver->Identity(m_text);
        m_driver->Open(m_db, m_text, readOnly);
        m_interrupter = m_driver->NewInterrupter(m_db, m_text, m_stop);
    } catch (...) {
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw;
    }
}

Database::~Database()
{
    m_interrupter.reset();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

Database &Database::ForServer(const QString &connectionText)
{
    std::lock_guard guard(poolLock);
    auto &sessions = pool();
    auto it = sessions.find(connectionText);
    if (it != sessions.end()) {
        Database &pooled = *it->second;
        if (pooled.Sql().isOpen() && pooled.m_identity == pooled.m_driver->Identity(pooled.m_text))
            return pooled;
        sessions.erase(it);
    }
    const QString name = connectionName(connectionText, "velserver-ro-");
    std::unique_ptr<Database> db(new Database(connectionText, name, true));
    Database &ref = *db;
    sessions.emplace(connectionText, std::move(db));
    return ref;
}

void Database::CloseAll()
{
    std::lock_guard guard(poolLock);
    pool().clear();
}

void Database::ReleaseServer(const QString &connectionText)
{
    std::lock_guard guard(poolLock);
    pool().erase(connectionText);
}

void Database::ProbeServer(const QString &connectionText)
{
    static std::atomic<int> counter{0};
    const Database probe(connectionText, connectionName(connectionText, "velserver-probe-") + u'-' + QString::number(++counter),
                         true);
}

std::unique_ptr<Database> Database::OpenForWriting(const QString &connectionText)
{
    static std::atomic<int> counter{0};
    const QString name = connectionName(connectionText, "velserver-rw-") + u'-' + QString::number(++counter);
    return std::unique_ptr<Database>(new Database(connectionText, name, false));
}

std::unique_ptr<RowCursor> Database::Select(const QString &sql, const QVariantList &params) const
{
    // Checked again once the statement is on its way: an interrupt that came in between was
    // sent while it ran, or finds the flag here.
    if (m_stop)
        throw Vel::Cancelled();
    std::unique_ptr<RowCursor> rows;
    try {
        rows = m_driver->Select(m_db, sql, params);
    } catch (const VelError &) {
        // Stopped while the statement was being set up (PostgreSQL sends its rows only later).
        if (m_stop)
            throw Vel::Cancelled();
        throw;
    }
    auto cursor = std::make_unique<StoppableCursor>(std::move(rows), m_stop);
    if (m_stop)
        throw Vel::Cancelled();
    return cursor;
}

qint64 Database::SelectInt(const QString &sql) const
{
    auto cursor = Select(sql);
    qint64 value = 0;
    if (cursor->Next()) {
        value = cursor->Int(0);
        cursor->Next();
    }
    return value;
}

void Database::ExecAll(const QStringList &statements) const
{
    Exec(m_driver->Name() == u"SQLite" ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
    try {
        for (const QString &statement : statements)
            Exec(statement);
        Exec(QStringLiteral("COMMIT"));
    } catch (...) {
        try {
            Exec(QStringLiteral("ROLLBACK"));
        } catch (const VelError &) {
        }
        throw;
    }
}

qint64 Database::Exec(const QString &sql, const QVariantList &params) const
{
    if (m_stop)
        throw Vel::Cancelled();
    QSqlQuery q(Sql());
    if (params.isEmpty()) {
        // Schema statements cannot be prepared on every engine.
        if (!q.exec(sql)) {
            // Schema work waiting past LockTimeout for a report or a till (lock_timeout).
            if (q.lastError().nativeErrorCode() == u"55P03" && !m_stop)
                throw VelError(Vel::ErrorKind::Timeout, QStringLiteral("等待其他会话释放锁超过了 %1 秒（连接文本的 LockTimeout），已停止")
                                                            .arg(m_text.LockTimeout()));
            Fail(QStringLiteral("语句执行失败"), q.lastError().text());
        }
        return q.numRowsAffected();
    }
    if (!q.prepare(sql))
        Fail(QStringLiteral("语句准备失败"), q.lastError().text());
    for (const QVariant &p : params)
        q.addBindValue(p);
    if (!q.exec())
        Fail(QStringLiteral("语句执行失败"), q.lastError().text());
    return q.numRowsAffected();
}

void Database::Fail(const QString &what, const QString &detail) const
{
    // The engine's own words for a statement stopped by Interrupt() or StopAll().
    if (m_stop)
        throw Vel::Cancelled();
    throw VelError(QStringLiteral("%1：%2").arg(what, detail));
}
