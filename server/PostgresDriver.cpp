// The PostgreSQL engine: Qt's driver opens the session and runs statements; report reads go
// to libpq on the same connection, with binary results (PgCopyReader) or, for types it does not
// read, in single-row mode with text results parsed in place.
#include "DbDriver.h"

#include "PgCopyReader.h"
#include "PgWait.h"
#include "RowCursor.h"
#include "TextFold.h"
#include "Utf8Text.h"
#include "VelError.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <libpq-fe.h>

#include <cstdlib>
#include <sys/socket.h>
#include <vector>

namespace {

// Type oids for parameters whose type the server could not infer from an untyped text.
constexpr Oid int8Oid = 20;
constexpr Oid float8Oid = 701;

// What the server's limits are, to name them when a query hits one.
struct SessionLimits
{
    QString where;            // host:port
    QString database;         // as messages may name it, or empty
    int statementSeconds = 0;
    int lockSeconds = 0;
};

// A standby cancels a read (or ends its session) whose snapshot or locks stand in the way of
// replaying the primary's changes; the same read again usually passes.
bool recoveryConflict(const PGresult *result)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char *primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    return state && primary && (qstrcmp(state, "40001") == 0 || qstrcmp(state, "57P04") == 0 || qstrcmp(state, "40P01") == 0)
        && QByteArray(primary).contains("conflict with recovery");
}

// A deadlock or serialization failure with another session (schema work beside a report); the
// same read again usually passes too.
bool sessionConflict(const PGresult *result)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return state && (qstrcmp(state, "40001") == 0 || qstrcmp(state, "40P01") == 0) && !recoveryConflict(result);
}

bool transientConflict(const PGresult *result)
{
    return recoveryConflict(result) || sessionConflict(result);
}

// The text of a failed query's result: one sentence for the causes we know, else the
// server's own message (libpq never puts the password in it).
QString pgErrorText(PGconn *conn, const PGresult *result, const SessionLimits &limits)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QByteArray code = state ? QByteArray(state) : QByteArray();
    if (code == "57014")
        return QStringLiteral("查询运行超过了 %1 秒的时限（连接文本的 Timeout），已被数据库服务器停止")
            .arg(limits.statementSeconds);
    if (code == "55P03")
        return QStringLiteral("等待其他会话释放锁超过了 %1 秒（连接文本的 LockTimeout），查询已停止")
            .arg(limits.lockSeconds);
    const QByteArray primary = result ? QByteArray(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)) : QByteArray();
    if (recoveryConflict(result))
        return QStringLiteral("备用数据库服务器 %1 为应用主库的最新更改取消了这次查询（与恢复冲突）；"
                              "稍后再试，或改在主库上运行即可").arg(limits.where);
    if (sessionConflict(result))
        return QStringLiteral("数据库服务器 %1 为解除与其他会话的冲突（死锁或并发修改）停止了这次查询；稍后再试即可")
            .arg(limits.where);
    if (code == "42P01") {
        const qsizetype open = primary.indexOf('"'), close = primary.indexOf('"', open + 1);
        const QString table = open >= 0 && close > open ? QString::fromUtf8(primary.mid(open + 1, close - open - 1)) : QString();
        return QStringLiteral("数据库服务器 %1 上的数据库%2不是会员报表的连锁数据库（没有表“%3”）")
            .arg(limits.where, limits.database.isEmpty() ? QString() : QStringLiteral("“%1”").arg(limits.database), table);
    }
    if (PQstatus(conn) == CONNECTION_BAD || code.startsWith("08") || code == "57P01")
        return QStringLiteral("与数据库服务器 %1 的连接已断开（服务器停止或网络中断）").arg(limits.where);
    const char *message = result ? PQresultErrorMessage(result) : PQerrorMessage(conn);
    return QStringLiteral("查询失败：%1").arg(QString::fromUtf8(message).trimmed());
}

// What kind of failure a failed query's result is: a limit passed, the server gone, or else.
Vel::ErrorKind pgErrorKind(PGconn *conn, const PGresult *result)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QByteArray code = state ? QByteArray(state) : QByteArray();
    if (code == "57014" || code == "55P03")
        return Vel::ErrorKind::Timeout;
    if (PQstatus(conn) == CONNECTION_BAD || code.startsWith("08") || code == "57P01" || transientConflict(result))
        return Vel::ErrorKind::Unavailable;
    return Vel::ErrorKind::Internal;
}

VelError pgError(PGconn *conn, const PGresult *result, const SessionLimits &limits)
{
    return VelError(pgErrorText(conn, result, limits), 0, QString(), pgErrorKind(conn, result));
}

// The server did not answer within the statement limit and its grace: it is stopped or cut off,
// since its own statement_timeout would have ended the query.
QString clientTimeoutText(const SessionLimits &limits)
{
    return QStringLiteral("查询运行超过了 %1 秒的时限（连接文本的 Timeout），数据库服务器 %2 没有回应，已停止等待")
        .arg(limits.statementSeconds).arg(limits.where);
}

// The server does not answer: the connection is cut, so that nothing waits on it again and
// the next use finds it broken rather than mid-query.
void abandon(PGconn *conn)
{
    // No cancel request: the server let its own statement_timeout pass without a word, and a
    // cancel waits for its postmaster's reply without a bound (a frozen machine never sends it).
    // A server that wakes up finds the connection gone at its next write.
    ::shutdown(PQsocket(conn), SHUT_RDWR);
    while (PGresult *r = PQgetResult(conn)) {
        const ExecStatusType status = PQresultStatus(r);
        PQclear(r);
        if (status == PGRES_COPY_OUT) {
            // A COPY's state answers every PQgetResult alike: read on to the cut (-1 or -2).
            char *row = nullptr;
            while (PQgetCopyData(conn, &row, 0) > 0)
                PQfreemem(row);
        } else if (status == PGRES_COPY_IN || status == PGRES_COPY_BOTH) {
            break;
        }
    }
}

// Filter values as libpq takes them: numbers typed, anything else as text for the server to infer.
PgCopyReader::Params boundParams(const QVariantList &params)
{
    PgCopyReader::Params bound;
    bound.values.reserve(size_t(params.size()));
    for (const QVariant &p : params) {
        Oid type = 0;
        if (p.isNull()) {
            bound.values.emplace_back();
        } else {
            switch (p.typeId()) {
            case QMetaType::Int: case QMetaType::LongLong: case QMetaType::Short:
            case QMetaType::UInt: case QMetaType::Bool:
                bound.values.push_back(QByteArray::number(p.toLongLong()));
                type = int8Oid;
                break;
            case QMetaType::Double:
                bound.values.push_back(QByteArray::number(p.toDouble(), 'g', 17));
                type = float8Oid;
                break;
            default:
                bound.values.push_back(p.toString().toUtf8());
            }
        }
        bound.types.push_back(type);
    }
    for (size_t i = 0; i < bound.values.size(); ++i)
        bound.pointers.push_back(params[qsizetype(i)].isNull() ? nullptr : bound.values[i].constData());
    return bound;
}

// Rows of one SELECT as the server sends them, one result per row.
class PgCursor final : public RowCursor
{
public:
    PgCursor(PGconn *conn, const SessionLimits &limits, const QString &sql, const PgCopyReader::Params &params)
        : m_conn(conn), m_limits(limits), m_deadline(PgDeadline::After(limits.statementSeconds))
    {
        const QByteArray text = PgCopyReader::Numbered(sql, [](int n) { return '$' + QByteArray::number(n); });
        if (!PQsendQueryParams(m_conn, text.constData(), int(params.values.size()), params.types.data(),
                               params.pointers.data(), nullptr, nullptr, 0)) {
            m_done = true;
            throw pgError(m_conn, nullptr, m_limits);
        }
        PQsetSingleRowMode(m_conn);
    }

    ~PgCursor() override
    {
        PQclear(m_row);
        if (!m_done) {
            // Left before the end: the server stops the query rather than sending the rest.
            if (PgCopyReader::ReadArrived(m_conn))
                return;
            PgCopyReader::CancelRunning(m_conn);
            drain();
        }
    }

    bool Next() override
    {
        PQclear(m_row);
        m_row = nullptr;
        if (m_done)
            return false;
        if (!m_deadline.WaitReadable(m_conn)) {
            m_done = true;
            abandon(m_conn);
            throw VelError(Vel::ErrorKind::Timeout, clientTimeoutText(m_limits));
        }
        PGresult *result = PQgetResult(m_conn);
        if (result && PQresultStatus(result) == PGRES_SINGLE_TUPLE) {
            m_row = result;
            return true;
        }
        m_done = true;
        if (!result)
            return false;
        const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK || PQresultStatus(result) == PGRES_COMMAND_OK;
        const VelError error = ok ? VelError(QString()) : pgError(m_conn, result, m_limits);
        const bool transient = !ok && transientConflict(result);
        PQclear(result);
        drain();
        if (transient)
            throw TransientError(error.Description());
        if (!ok)
            throw error;
        return false;
    }

    bool IsNull(int c) const override { return PQgetisnull(m_row, 0, c); }

    qint64 Int(int c) const override { return PgCopyReader::TextInt(PQgetvalue(m_row, 0, c)); }

    double Double(int c) const override { return std::strtod(PQgetvalue(m_row, 0, c), nullptr); }

    QStringView Text(int c) const override
    {
        if (PQgetisnull(m_row, 0, c))
            return {};
        return m_text.Widen(PQgetvalue(m_row, 0, c), PQgetlength(m_row, 0, c));
    }
    QStringView TextOrNull(int c) const override
    {
        if (PQgetisnull(m_row, 0, c))
            return {};
        const QStringView text = Text(c);
        return text.isNull() ? QStringView(u"") : text;
    }

private:
    // Reads what is left of the results, within a grace for a server that got a cancel request.
    void drain()
    {
        const PgDeadline deadline = PgDeadline::After(1);
        while (true) {
            if (!deadline.WaitReadable(m_conn)) {
                abandon(m_conn);
                return;
            }
            PGresult *r = PQgetResult(m_conn);
            if (!r)
                return;
            PQclear(r);
        }
    }

    PGconn *m_conn;
    SessionLimits m_limits;
    PGresult *m_row = nullptr;
    PgDeadline m_deadline;
    bool m_done = false;
    Utf8Text m_text;
};

// A cancel request on the session's own key: PQcancel is thread-safe and needs no lock on the
// connection that is busy reading.
class PgInterrupter final : public DbDriver::Interrupter
{
public:
    explicit PgInterrupter(PGcancel *cancel) : m_cancel(cancel) {}
    ~PgInterrupter() override { PQfreeCancel(m_cancel); }
    void Interrupt() override
    {
        char error[256];
        PQcancel(m_cancel, error, sizeof error);
    }

private:
    PGcancel *m_cancel;
};

// libpq's connection behind a session Qt's driver opened, or null.
PGconn *pgHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    // Qt 6 names the handle's type by the struct behind libpq's typedef.
    if (handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0))
        return *static_cast<PGconn *const *>(handle.data());
    return nullptr;
}

class PostgresDriver final : public DbDriver
{
public:
    explicit PostgresDriver(const ConnectionText &text)
        : m_host(text.Host().trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : text.Host().trimmed()),
          m_port(text.Port(5432)),
          m_keepAlive(text.KeepAlive())
    {
        m_limits.where = text.Shown(m_host).isEmpty() ? QStringLiteral("（主机名含有特殊字符，不予显示）")
                                                       : QStringLiteral("%1:%2").arg(m_host).arg(m_port);
        m_limits.database = text.Shown(text.Database());
        m_limits.statementSeconds = text.StatementTimeout();
        m_limits.lockSeconds = text.LockTimeout();
    }

    QString Name() const override { return QStringLiteral("PostgreSQL"); }
    QString QtDriverName() const override { return QStringLiteral("QPSQL"); }

    void Open(QSqlDatabase &db, const ConnectionText &text, bool readOnly) const override
    {
        db.setHostName(m_host);
        db.setPort(m_port);
        db.setDatabaseName(text.Database());
        db.setUserName(text.User());
        db.setPassword(text.Password());
        // Keepalives find a server that stopped answering while a query waits; tcp_user_timeout
        // ends a connection whose sent data stays unacknowledged as long (a cut network).
        QString options = QStringLiteral("connect_timeout=5");
        if (m_keepAlive > 0)
            options += QStringLiteral(";keepalives=1;keepalives_idle=%1;keepalives_interval=5;keepalives_count=3"
                                      ";tcp_user_timeout=%2")
                           .arg(m_keepAlive).arg((m_keepAlive + 15) * 1000);
        db.setConnectOptions(options);
        const QString &where = m_limits.where;
        if (!db.open()) {
            // Built from the parts we know; libpq's own text never echoes the password.
            const QSqlError error = db.lastError();
            const QString detail = error.databaseText().trimmed();
            const QString state = error.nativeErrorCode();
            const QString lower = detail.toLower();
            // A name that may have swallowed other pairs is not repeated, nor is libpq's text
            // that would repeat it.
            const auto named = [&](const QString &what, const QString &value) {
                const QString shown = text.Shown(value);
                return shown.isEmpty() ? QStringLiteral("所给的") + what : QStringLiteral("%1“%2”").arg(what, shown);
            };
            if (lower.contains(u"no password supplied"))
                throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("数据库服务器 %1 要求密码，但连接文本没有 Password，"
                                              "环境变量 PGPASSWORD 和 ~/.pgpass 中也没有").arg(where));
            if (state == u"28P01" || state == u"28000" || lower.contains(u"authentication")
                || lower.contains(u"pg_hba") || (lower.contains(u"role") && lower.contains(u"does not exist")))
                throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("数据库服务器 %1 拒绝了%2的登录（用户名或密码不对，或服务器不允许该用户连接）")
                                   .arg(where, named(QStringLiteral("用户"), text.User())));
            if (state == u"3D000" || (lower.contains(u"database") && lower.contains(u"does not exist")))
                throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("数据库服务器 %1 上没有%2").arg(where, named(QStringLiteral("数据库"), text.Database())));
            if (!text.NamesShown())
                throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("无法连接数据库服务器 %1").arg(where));
            throw VelError(Vel::ErrorKind::Unavailable, QStringLiteral("无法连接数据库服务器 %1：%2").arg(where, detail));
        }
        QSqlQuery q(db);
        QStringList setup{QStringLiteral("SET client_encoding TO 'UTF8'"),
                          QStringLiteral("SET standard_conforming_strings TO on"),
                          QStringLiteral("SET DateStyle TO ISO, YMD")};
        if (readOnly) {
            setup << QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY")
                  << QStringLiteral("SET statement_timeout = %1").arg(qint64(m_limits.statementSeconds) * 1000)
                  << QStringLiteral("SET lock_timeout = %1").arg(qint64(m_limits.lockSeconds) * 1000);
        }
        for (const QString &sql : setup) {
            if (!q.exec(sql))
                throw VelError(QStringLiteral("数据库服务器 %1 上的会话设置失败：%2").arg(where, q.lastError().databaseText()));
        }
        // A report's query runs once: compiling it (hundreds of functions for the many joins)
        // costs more than it saves. Servers before 11 have no such setting.
        if (readOnly)
            q.exec(QStringLiteral("SET jit = off"));
        // ICU's root locale lowercases alike whatever the database's own locale is.
        m_icu = q.exec(QStringLiteral("SELECT 1 FROM pg_collation WHERE collname = 'und-x-icu'")) && q.next();
    }

    std::unique_ptr<Interrupter> NewInterrupter(const QSqlDatabase &db, const ConnectionText &,
                                                const std::atomic<bool> &) const override
    {
        PGconn *conn = pgHandle(db);
        PGcancel *cancel = conn ? PQgetCancel(conn) : nullptr;
        return cancel ? std::make_unique<PgInterrupter>(cancel) : nullptr;
    }

    SchemaTypes Types() const override
    {
        return {QStringLiteral("BIGINT PRIMARY KEY"), QStringLiteral("BIGINT"), QStringLiteral("TIMESTAMP(0)"),
                QStringLiteral("TEXT COLLATE \"C\""), QStringLiteral("TEXT")};
    }
    QString DateTimeText(const QString &expr) const override
    {
        return QStringLiteral("to_char(%1, 'YYYY-MM-DD HH24:MI:SS')").arg(expr);
    }
    QString FoldedText(const QString &expr) const override { return TextFold::PostgresSql(expr, m_icu); }

    std::unique_ptr<RowCursor> Select(const QSqlDatabase &db, const QString &sql,
                                      const QVariantList &params) const override
    {
        const QVariant handle = db.driver()->handle();
        // Qt 6 names the handle's type by the struct behind libpq's typedef.
        if (handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0)) {
            if (PGconn *conn = *static_cast<PGconn *const *>(handle.data())) {
                const PgCopyReader::Params bound = boundParams(params);
                const SessionLimits limits = m_limits;
                PgCopyReader::Session session;
                session.deadline = PgDeadline::After(limits.statementSeconds);
                session.fail = [conn, limits](const PGresult *r) {
                    const VelError error = pgError(conn, r, limits);
                    if (transientConflict(r))
                        throw TransientError(error.Description());
                    throw error;
                };
                session.abandon = [conn] { abandon(conn); };
                session.timeoutText = [limits] { return clientTimeoutText(limits); };
                if (auto rows = PgCopyReader::Open(conn, sql, bound, session))
                    return rows;
                return std::make_unique<PgCursor>(conn, m_limits, sql, bound);
            }
        }
        return DbDriver::Select(db, sql, params);
    }

private:
    QString m_host;
    int m_port;
    int m_keepAlive;
    SessionLimits m_limits;
    mutable bool m_icu = false;   // found when the session opens
};

} // namespace

std::unique_ptr<DbDriver> DbDriver::NewPostgres(const ConnectionText &text)
{
    return std::make_unique<PostgresDriver>(text);
}
