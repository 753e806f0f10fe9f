#include "Store.h"

#include "VelError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QStandardPaths>

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char *const schema[] = {
    "CREATE TABLE IF NOT EXISTS users (name TEXT PRIMARY KEY, password TEXT NOT NULL, branch TEXT NOT NULL, "
    "email TEXT NOT NULL DEFAULT '', disabled INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS sessions (id BLOB PRIMARY KEY, user TEXT NOT NULL, csrf BLOB NOT NULL, "
    "created INTEGER NOT NULL, last_seen INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS tokens (id BLOB PRIMARY KEY, user TEXT NOT NULL, created INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS schemes (user TEXT NOT NULL, report INTEGER NOT NULL, name TEXT NOT NULL, "
    "filter TEXT NOT NULL, PRIMARY KEY (user, report, name))",
    "CREATE TABLE IF NOT EXISTS audit (id INTEGER PRIMARY KEY AUTOINCREMENT, at TEXT NOT NULL, user TEXT NOT NULL, "
    "address TEXT NOT NULL, action TEXT NOT NULL, report TEXT NOT NULL, filter TEXT NOT NULL, format TEXT NOT NULL, "
    "rows INTEGER, status INTEGER NOT NULL)",
    "CREATE TRIGGER IF NOT EXISTS audit_no_update BEFORE UPDATE ON audit BEGIN SELECT RAISE(ABORT, 'append only'); END",
    "CREATE TRIGGER IF NOT EXISTS audit_no_delete BEFORE DELETE ON audit BEGIN SELECT RAISE(ABORT, 'append only'); END",
    "CREATE TABLE IF NOT EXISTS schedules (id INTEGER PRIMARY KEY AUTOINCREMENT, report INTEGER NOT NULL, "
    "filter TEXT NOT NULL, format TEXT NOT NULL, per_branch INTEGER NOT NULL, recipients TEXT NOT NULL, "
    "folder TEXT NOT NULL, cron TEXT NOT NULL, zone TEXT NOT NULL, enabled INTEGER NOT NULL, "
    "checked_until INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS deliveries (schedule INTEGER NOT NULL, slot TEXT NOT NULL, branch TEXT NOT NULL, "
    "state TEXT NOT NULL, attempts INTEGER NOT NULL DEFAULT 0, next_try INTEGER NOT NULL, lease_until INTEGER NOT NULL "
    "DEFAULT 0, error TEXT NOT NULL DEFAULT '', rows INTEGER NOT NULL DEFAULT -1, updated INTEGER NOT NULL, "
    "PRIMARY KEY (schedule, slot, branch))",
};

QString storeError(sqlite3 *db)
{
    return QStringLiteral("服务存储出错：%1").arg(QString::fromUtf8(sqlite3_errmsg(db)));
}

} // namespace

// A prepared statement with positional binds; steps through rows.
class Store::Statement
{
public:
    Statement(sqlite3 *db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            throw VelError(storeError(db));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement &Bind(const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_stmt, ++m_bound, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &Bind(const QByteArray &blob)
    {
        sqlite3_bind_blob(m_stmt, ++m_bound, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &Bind(qint64 n)
    {
        sqlite3_bind_int64(m_stmt, ++m_bound, n);
        return *this;
    }
    bool Next()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw VelError(storeError(m_db));
        return false;
    }
    void Run() { Next(); }
    QString Text(int c) const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, c)),
                                 sqlite3_column_bytes(m_stmt, c));
    }
    QByteArray Blob(int c) const
    {
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, c)), sqlite3_column_bytes(m_stmt, c));
    }
    qint64 Int(int c) const { return sqlite3_column_int64(m_stmt, c); }
    bool IsNull(int c) const { return sqlite3_column_type(m_stmt, c) == SQLITE_NULL; }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    int m_bound = 0;
};

Store::Store(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Created private before SQLite opens it: the file holds password hashes.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw VelError(QStringLiteral("无法打开服务存储文件 %1").arg(path));
    ::close(fd);
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK)
        throw VelError(storeError(m_db));
    sqlite3_busy_timeout(m_db, 5000);
    exec("PRAGMA journal_mode = WAL");
    for (const char *sql : schema)
        exec(sql);
}

Store::~Store()
{
    sqlite3_close(m_db);
}

QString Store::DefaultPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(QStringLiteral("service.sqlite"));
}

void Store::exec(const char *sql) const
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw VelError(storeError(m_db));
}

void Store::AddUser(const User &user)
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "INSERT OR IGNORE INTO users (name, password, branch, email) VALUES (?, ?, ?, ?)");
    s.Bind(user.name).Bind(QString::fromLatin1(user.passwordHash)).Bind(user.branch).Bind(user.email).Run();
    if (sqlite3_changes(m_db) == 0)
        throw VelError(QStringLiteral("用户“%1”已存在").arg(user.name));
}

bool Store::SetPassword(const QString &name, const QByteArray &hash)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "UPDATE users SET password = ? WHERE name = ?").Bind(QString::fromLatin1(hash)).Bind(name).Run();
    const bool found = sqlite3_changes(m_db) > 0;
    // A new password ends the user's sessions.
    Statement(m_db, "DELETE FROM sessions WHERE user = ?").Bind(name).Run();
    return found;
}

bool Store::SetDisabled(const QString &name, bool disabled)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "UPDATE users SET disabled = ? WHERE name = ?").Bind(qint64(disabled)).Bind(name).Run();
    const bool found = sqlite3_changes(m_db) > 0;
    Statement(m_db, "DELETE FROM sessions WHERE user = ?").Bind(name).Run();
    Statement(m_db, "DELETE FROM tokens WHERE user = ?").Bind(name).Run();
    return found;
}

std::optional<Store::User> Store::FindUser(const QString &name) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT name, branch, email, disabled, password FROM users WHERE name = ?");
    s.Bind(name);
    if (!s.Next())
        return std::nullopt;
    return User{s.Text(0), s.Text(1), s.Text(2), s.Int(3) != 0, s.Text(4).toLatin1()};
}

QList<Store::User> Store::Users() const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT name, branch, email, disabled FROM users ORDER BY name");
    QList<User> users;
    while (s.Next())
        users.append({s.Text(0), s.Text(1), s.Text(2), s.Int(3) != 0, {}});
    return users;
}

void Store::AddSession(const QByteArray &idHash, const Session &session)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "INSERT INTO sessions (id, user, csrf, created, last_seen) VALUES (?, ?, ?, ?, ?)")
        .Bind(idHash).Bind(session.user).Bind(session.csrf).Bind(session.created).Bind(session.lastSeen).Run();
}

std::optional<Store::Session> Store::FindSession(const QByteArray &idHash) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT user, csrf, created, last_seen FROM sessions WHERE id = ?");
    s.Bind(idHash);
    if (!s.Next())
        return std::nullopt;
    return Session{s.Text(0), s.Blob(1), s.Int(2), s.Int(3)};
}

void Store::TouchSession(const QByteArray &idHash, qint64 now)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "UPDATE sessions SET last_seen = ? WHERE id = ?").Bind(now).Bind(idHash).Run();
}

void Store::RemoveSession(const QByteArray &idHash)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "DELETE FROM sessions WHERE id = ?").Bind(idHash).Run();
}

void Store::RemoveSessionsBefore(qint64 lastSeen, qint64 created)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "DELETE FROM sessions WHERE last_seen < ? OR created < ?").Bind(lastSeen).Bind(created).Run();
}

void Store::AddToken(const QByteArray &tokenHash, const QString &user)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "INSERT INTO tokens (id, user, created) VALUES (?, ?, ?)")
        .Bind(tokenHash).Bind(user).Bind(QDateTime::currentSecsSinceEpoch()).Run();
}

std::optional<QString> Store::TokenUser(const QByteArray &tokenHash) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT user FROM tokens WHERE id = ?");
    s.Bind(tokenHash);
    if (!s.Next())
        return std::nullopt;
    return s.Text(0);
}

QJsonArray Store::Schemes(const QString &user, qint32 rptId) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT name FROM schemes WHERE user = ? AND report = ? ORDER BY name");
    s.Bind(user).Bind(qint64(rptId));
    QJsonArray names;
    while (s.Next())
        names.append(s.Text(0));
    return names;
}

std::optional<QByteArray> Store::Scheme(const QString &user, qint32 rptId, const QString &name) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT filter FROM schemes WHERE user = ? AND report = ? AND name = ?");
    s.Bind(user).Bind(qint64(rptId)).Bind(name);
    if (!s.Next())
        return std::nullopt;
    return s.Text(0).toUtf8();
}

void Store::SaveScheme(const QString &user, qint32 rptId, const QString &name, const QByteArray &filter)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "INSERT OR REPLACE INTO schemes (user, report, name, filter) VALUES (?, ?, ?, ?)")
        .Bind(user).Bind(qint64(rptId)).Bind(name).Bind(QString::fromUtf8(filter)).Run();
}

bool Store::RemoveScheme(const QString &user, qint32 rptId, const QString &name)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "DELETE FROM schemes WHERE user = ? AND report = ? AND name = ?")
        .Bind(user).Bind(qint64(rptId)).Bind(name).Run();
    return sqlite3_changes(m_db) > 0;
}

void Store::Audit(const AuditEntry &e)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "INSERT INTO audit (at, user, address, action, report, filter, format, rows, status) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
        .Bind(e.user).Bind(e.address).Bind(e.action).Bind(e.report).Bind(e.filter).Bind(e.format)
        .Bind(e.rows).Bind(qint64(e.status)).Run();
}

QJsonArray Store::AuditTail(int count) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT at, user, action, report, filter, format, rows, status FROM audit ORDER BY id DESC LIMIT ?");
    s.Bind(qint64(count));
    QJsonArray rows;
    while (s.Next())
        rows.append(QJsonObject{{QStringLiteral("at"), s.Text(0)}, {QStringLiteral("user"), s.Text(1)},
                                {QStringLiteral("action"), s.Text(2)}, {QStringLiteral("report"), s.Text(3)},
                                {QStringLiteral("filter"), s.Text(4)}, {QStringLiteral("format"), s.Text(5)},
                                {QStringLiteral("rows"), s.Int(6)}, {QStringLiteral("status"), s.Int(7)}});
    return rows;
}

namespace {

const char kScheduleColumns[] =
    "SELECT id, report, filter, format, per_branch, recipients, folder, cron, zone, enabled, checked_until FROM schedules";
const char kDeliveryColumns[] =
    "SELECT d.schedule, d.slot, d.branch, d.state, d.attempts, d.next_try, d.error, d.rows, d.updated FROM deliveries d";

} // namespace

qint64 Store::AddSchedule(const Schedule &c)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "INSERT INTO schedules (report, filter, format, per_branch, recipients, folder, cron, zone, enabled, "
                    "checked_until) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(qint64(c.report)).Bind(QString::fromUtf8(c.filter)).Bind(c.format).Bind(qint64(c.perBranch))
        .Bind(c.to.join(u',')).Bind(c.folder).Bind(c.cron).Bind(c.zone).Bind(qint64(c.enabled)).Bind(c.checkedUntil)
        .Run();
    return sqlite3_last_insert_rowid(m_db);
}

QList<Store::Schedule> Store::Schedules() const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, (QByteArray(kScheduleColumns) + " ORDER BY id").constData());
    QList<Schedule> out;
    while (s.Next())
        out.append({s.Int(0), qint32(s.Int(1)), s.Text(2).toUtf8(), s.Text(3), s.Int(4) != 0,
                    s.Text(5).split(u',', Qt::SkipEmptyParts), s.Text(6), s.Text(7), s.Text(8), s.Int(9) != 0, s.Int(10)});
    return out;
}

std::optional<Store::Schedule> Store::FindSchedule(qint64 id) const
{
    for (const Schedule &c : Schedules())
        if (c.id == id)
            return c;
    return std::nullopt;
}

bool Store::SetScheduleEnabled(qint64 id, bool enabled)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "UPDATE schedules SET enabled = ? WHERE id = ?").Bind(qint64(enabled)).Bind(id).Run();
    return sqlite3_changes(m_db) > 0;
}

void Store::SetCheckedUntil(qint64 id, qint64 moment)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "UPDATE schedules SET checked_until = ? WHERE id = ? AND checked_until < ?")
        .Bind(moment).Bind(id).Bind(moment).Run();
}

QMap<QString, QStringList> Store::BranchAddresses() const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT branch, email FROM users WHERE branch <> '' AND email <> '' AND disabled = 0 "
                      "ORDER BY branch, name");
    QMap<QString, QStringList> out;
    while (s.Next())
        out[s.Text(0)].append(s.Text(1));
    return out;
}

bool Store::AddDelivery(qint64 schedule, const QString &slot, const QString &branch, qint64 now)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "INSERT OR IGNORE INTO deliveries (schedule, slot, branch, state, next_try, updated) "
                    "VALUES (?, ?, ?, 'pending', ?, ?)")
        .Bind(schedule).Bind(slot).Bind(branch).Bind(now).Bind(now).Run();
    return sqlite3_changes(m_db) > 0;
}

bool Store::ClaimDelivery(const Delivery &d, qint64 now, qint64 leaseUntil)
{
    std::lock_guard guard(m_lock);
    // One statement: the row is due and becomes "sending" atomically, in whichever process.
    Statement(m_db, "UPDATE deliveries SET state = 'sending', attempts = attempts + 1, lease_until = ?, updated = ? "
                    "WHERE schedule = ? AND slot = ? AND branch = ? AND (state = 'pending' "
                    "OR (state = 'failed-transient' AND next_try <= ?) OR (state = 'sending' AND lease_until < ?))")
        .Bind(leaseUntil).Bind(now).Bind(d.schedule).Bind(d.slot).Bind(d.branch).Bind(now).Bind(now).Run();
    return sqlite3_changes(m_db) > 0;
}

void Store::FinishDelivery(const Delivery &d)
{
    std::lock_guard guard(m_lock);
    Statement(m_db, "UPDATE deliveries SET state = ?, next_try = ?, error = ?, rows = ?, updated = ?, lease_until = 0 "
                    "WHERE schedule = ? AND slot = ? AND branch = ?")
        .Bind(d.state).Bind(d.nextTry).Bind(d.error.left(2000)).Bind(d.rows).Bind(d.updated).Bind(d.schedule)
        .Bind(d.slot).Bind(d.branch).Run();
}

namespace {

template <typename S>
Store::Delivery deliveryOf(const S &s)
{
    return {s.Int(0), s.Text(1), s.Text(2), s.Text(3), int(s.Int(4)), s.Int(5), s.Text(6), s.Int(7), s.Int(8)};
}

} // namespace

QList<Store::Delivery> Store::DueDeliveries(qint64 now) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, (QByteArray(kDeliveryColumns)
                       + " JOIN schedules c ON c.id = d.schedule WHERE c.enabled = 1 AND (d.state = 'pending' "
                         "OR (d.state = 'failed-transient' AND d.next_try <= ?) OR (d.state = 'sending' AND d.lease_until < ?)) "
                         "ORDER BY d.next_try, d.schedule, d.slot, d.branch").constData());
    s.Bind(now).Bind(now);
    QList<Delivery> out;
    while (s.Next())
        out.append(deliveryOf(s));
    return out;
}

qint64 Store::NextDue() const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT MIN(CASE WHEN d.state = 'sending' THEN d.lease_until ELSE d.next_try END) FROM deliveries d "
                      "JOIN schedules c ON c.id = d.schedule WHERE c.enabled = 1 "
                      "AND d.state IN ('pending', 'failed-transient', 'sending')");
    return s.Next() && !s.IsNull(0) ? s.Int(0) : 0;
}

QList<Store::Delivery> Store::Deliveries(qint64 schedule, int count) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, (QByteArray(kDeliveryColumns) + " WHERE d.schedule = ? ORDER BY d.slot DESC, d.branch LIMIT ?").constData());
    s.Bind(schedule).Bind(qint64(count));
    QList<Delivery> out;
    while (s.Next())
        out.append(deliveryOf(s));
    return out;
}

qint64 Store::CountDeliveries(const QString &state) const
{
    std::lock_guard guard(m_lock);
    Statement s(m_db, "SELECT COUNT(*) FROM deliveries WHERE state = ?");
    s.Bind(state);
    return s.Next() ? s.Int(0) : 0;
}
