#pragma once

#include "ConnectionText.h"
#include "DbDriver.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <memory>

class RowCursor;

// A session on one database: its engine driver and its Qt connection. A session is used by one
// thread at a time, not necessarily the one that opened it.
class Database
{
public:
    // One request reading on a session, so that another thread can stop it. While it exists,
    // Interrupt() stops the statement running on the session (sqlite3_interrupt, a PostgreSQL
    // cancel request) and every read the request starts afterwards; those reads throw
    // Vel::Cancelled(). The session stays usable for the next request.
    class Request
    {
    public:
        explicit Request(const Database &db);
        ~Request();
        Request(const Request &) = delete;
        Request &operator=(const Request &) = delete;
        void Interrupt();   // any thread
    private:
        const Database &m_db;
    };
    // One read transaction on a session, so that every statement of a report reads the same
    // moment of the chain: REPEATABLE READ READ ONLY on PostgreSQL (a hot standby allows it),
    // a deferred BEGIN on SQLite (its first read takes the snapshot). Ended when destroyed;
    // destroy it after the Request, so that the end is never stopped by an interrupt.
    class ReadSnapshot
    {
    public:
        explicit ReadSnapshot(const Database &db);
        ~ReadSnapshot();
        ReadSnapshot(const ReadSnapshot &) = delete;
        ReadSnapshot &operator=(const ReadSnapshot &) = delete;
    private:
        const Database &m_db;
    };
    // Interrupts every request running in the process and every one started later: for a host
    // that is quitting (Ctrl+C). Any thread.
    static void StopAll();
    // Whether StopAll() was called: long work outside reads (a demo load, a schema upgrade)
    // checks it between steps.
    static bool Stopping();
    // Work on a connection of its own (a bulk load through libpq or SQLite) stopped by StopAll()
    // too: while a hook exists, StopAll() calls it (from any thread, at most once).
    class StopHook
    {
    public:
        explicit StopHook(std::function<void()> stop);
        ~StopHook();
        StopHook(const StopHook &) = delete;
        StopHook &operator=(const StopHook &) = delete;
    private:
        std::function<void()> m_stop;
    };

    // The pooled read-only session of one server's connection text (one per text and process);
    // reports reach it through ReadSessions, which picks among standbys first.
    static Database &ForServer(const QString &serverText);
    // Closes every pooled session.
    static void CloseAll();
    // Drops the pooled session of a server's text (after a failure), so the next use reconnects.
    static void ReleaseServer(const QString &serverText);
    // Opens a session of its own on one server and closes it again: whether the connection
    // works. Any thread; throws VelError (without the password).
    static void ProbeServer(const QString &serverText);
    // A private session that may write; closed when destroyed.
    static std::unique_ptr<Database> OpenForWriting(const QString &connectionText);

    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    const DbDriver &Driver() const { return *m_driver; }
    const ConnectionText &Connection() const { return m_text; }
    // The connection itself, not looked up by name: that lookup refuses threads other than the
    // one that opened it.
    QSqlDatabase Sql() const { return m_db; }

    std::unique_ptr<RowCursor> Select(const QString &sql, const QVariantList &params = {}) const;
    // The first value of a query's one row, read to the end (a PostgreSQL cursor left early is
    // cancelled, which would end a report's transaction); 0 without a row.
    qint64 SelectInt(const QString &sql) const;
    // Runs a statement that returns no rows; the rows it changed (-1 where the engine cannot
    // tell). Throws VelError on failure.
    qint64 Exec(const QString &sql, const QVariantList &params = {}) const;
    // Runs the statements in one transaction: all of them or, on the first failure, none. On
    // SQLite the transaction takes the write lock when it begins (BEGIN IMMEDIATE), so no other
    // writer commits between its reads and its writes.
    void ExecAll(const QStringList &statements) const;
    // Throws a VelError for a failed statement, without the password.
    [[noreturn]] void Fail(const QString &what, const QString &detail) const;

private:
    Database(const QString &text, const QString &name, bool readOnly);

    ConnectionText m_text;
    std::unique_ptr<DbDriver> m_driver;
    QString m_name;
    QSqlDatabase m_db;
    QByteArray m_identity;      // the database's identity when opened
    mutable std::atomic<bool> m_stop{false};                // set while a request is interrupted
    std::unique_ptr<DbDriver::Interrupter> m_interrupter;
};
