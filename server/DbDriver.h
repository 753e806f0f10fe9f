#pragma once

#include "ConnectionText.h"
#include "VelError.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <atomic>
#include <memory>

class RowCursor;

// A failure the same request is unlikely to meet again (a hot standby cancelled it to replay the
// primary's changes): the component tries such a request once more on a fresh session.
class TransientError : public VelError
{
public:
    using VelError::VelError;
};

// What differs between the database engines: opening a session, column types, a few SQL
// spellings and the fastest way to read rows.
class DbDriver
{
public:
    virtual ~DbDriver() = default;

    // Throws VelError for a missing or unknown driver.
    static std::unique_ptr<DbDriver> Create(const ConnectionText &text);

    virtual QString Name() const = 0;
    virtual QString QtDriverName() const = 0;

    // Opens `db` (already added with QtDriverName()) for the connection text. Report sessions
    // are read-only. Throws VelError with a text that never holds the password.
    virtual void Open(QSqlDatabase &db, const ConnectionText &text, bool readOnly) const = 0;

    // Stops the statement running on one open session; Interrupt() may be called from any thread
    // while another thread reads.
    class Interrupter
    {
    public:
        virtual ~Interrupter() = default;
        virtual void Interrupt() = 0;
    };
    // Made when a session has opened. Where the engine can, its reads also stop by themselves
    // while `stop` is set, so that a read starting just after Interrupt() stops too, and so does
    // a wait for another program's lock.
    virtual std::unique_ptr<Interrupter> NewInterrupter(const QSqlDatabase &db, const ConnectionText &text,
                                                        const std::atomic<bool> &stop) const = 0;

    // What identifies the database a session reads (an SQLite file's device, inode, size and
    // modification time), so a pooled session is dropped when the file was replaced or rewritten; empty where nothing can be checked.
    virtual QByteArray Identity(const ConnectionText &) const { return {}; }

    // The engine's column types for the schema tokens.
    struct SchemaTypes {
        QString id;        // %ID: integer primary key
        QString integer;   // %INT
        QString dateTime;  // %DT: date and time of day
        QString code;      // %CODE: code text, compared byte-wise
        QString text;      // %TEXT
    };
    virtual SchemaTypes Types() const = 0;
    // A schema statement written with the tokens, in the engine's types.
    QString SchemaSql(const QString &ddl) const;

    // An expression giving a date-time column as text "yyyy-MM-dd HH:mm:ss".
    virtual QString DateTimeText(const QString &expr) const = 0;

    // An expression of a text column folded like TextFold::Fold, for "contains" matching with
    // LIKE against a folded pattern.
    virtual QString FoldedText(const QString &expr) const = 0;

    // A forward-only reader for a SELECT with positional `?` parameters.
    virtual std::unique_ptr<RowCursor> Select(const QSqlDatabase &db, const QString &sql,
                                              const QVariantList &params) const;

private:
    // One driver per engine, each in a file of its own.
    static std::unique_ptr<DbDriver> NewSqlite(const ConnectionText &text);
    static std::unique_ptr<DbDriver> NewPostgres(const ConnectionText &text);
};
