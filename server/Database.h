#pragma once

#include "ConnectionText.h"
#include "DbDriver.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <memory>

class RowCursor;

// A session on one database: its engine driver and its Qt connection.
class Database
{
public:
    // The pooled read-only session for a connection text (one per text and process; UI thread).
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
    QSqlDatabase Sql() const { return QSqlDatabase::database(m_name, false); }

    std::unique_ptr<RowCursor> Select(const QString &sql, const QVariantList &params = {}) const;
    // Runs a statement that returns no rows; throws VelError on failure.
    void Exec(const QString &sql, const QVariantList &params = {}) const;
    // Throws a VelError for a failed statement, without the password.
    [[noreturn]] void Fail(const QString &what, const QString &detail) const;

private:
    Database(const QString &text, const QString &name, bool readOnly);

    ConnectionText m_text;
    std::unique_ptr<DbDriver> m_driver;
    QString m_name;
    QByteArray m_identity;      // the database's identity when opened
};
