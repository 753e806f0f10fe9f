#pragma once

#include "ConnectionText.h"
#include "DbDriver.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <atomic>
#include <memory>

class RowCursor;

// A session on one database: its engine driver and its Qt connection. A session is used by one
// thread at a time, not necessarily the one that opened it.
class Database
{
public:
    // The text of a read stopped by Interrupt() or StopAll().
    static QString CancelledText();

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
    // Interrupts every request running in the process and every one started later: for a host
    // that is quitting (Ctrl+C). Any thread.
    static void StopAll();

    // The pooled read-only session for a connection text (one per text and process).
    static Database &ForReports(const QString &connectionText);
    // Closes every pooled session.
    static void CloseAll();
    // Drops the pooled session of a connection text (after a failure), so the next use reconnects.
    static void Release(const QString &connectionText);
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
    // Runs a statement that returns no rows; throws VelError on failure.
    void Exec(const QString &sql, const QVariantList &params = {}) const;
    // Runs the statements in one transaction: all of them or, on the first failure, none.
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
