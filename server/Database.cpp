#include "Database.h"

#include "RowCursor.h"
#include "VelError.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>
#include <map>

namespace {

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

} // namespace

Database::Database(const QString &text, const QString &name, bool readOnly)
    : m_text(ConnectionText::Parse(text)), m_name(name)
{
    m_driver = DbDriver::Create(m_text);
    QSqlDatabase db = QSqlDatabase::addDatabase(m_driver->QtDriverName(), m_name);
    try {
        m_identity = m_driver->Identity(m_text);
        m_driver->Open(db, m_text, readOnly);
    } catch (...) {
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw;
    }
}

Database::~Database()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

Database &Database::ForReports(const QString &connectionText)
{
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
    pool().clear();
}

void Database::Release(const QString &connectionText)
{
    pool().erase(connectionText);
}

std::unique_ptr<Database> Database::OpenForWriting(const QString &connectionText)
{
    static std::atomic<int> counter{0};
    const QString name = connectionName(connectionText, "velserver-rw-") + u'-' + QString::number(++counter);
    return std::unique_ptr<Database>(new Database(connectionText, name, false));
}

std::unique_ptr<RowCursor> Database::Select(const QString &sql, const QVariantList &params) const
{
    return m_driver->Select(Sql(), sql, params);
}

void Database::Exec(const QString &sql, const QVariantList &params) const
{
    QSqlQuery q(Sql());
    if (params.isEmpty()) {
        // Schema statements cannot be prepared on every engine.
        if (!q.exec(sql))
            Fail(QStringLiteral("语句执行失败"), q.lastError().text());
        return;
    }
    if (!q.prepare(sql))
        Fail(QStringLiteral("语句准备失败"), q.lastError().text());
    for (const QVariant &p : params)
        q.addBindValue(p);
    if (!q.exec())
        Fail(QStringLiteral("语句执行失败"), q.lastError().text());
}

void Database::Fail(const QString &what, const QString &detail) const
{
    throw VelError(QStringLiteral("%1：%2").arg(what, detail));
}
