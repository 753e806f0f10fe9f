#include "DbDriver.h"

#include "RowCursor.h"
#include "TextFold.h"
#include "VelError.h"

#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringDecoder>

#include <sqlite3.h>

#include <string>

namespace {

// Rows through QSqlQuery, for engines without a faster path.
class QtCursor final : public RowCursor
{
public:
    QtCursor(const QSqlDatabase &db, const QString &sql, const QVariantList &params)
        : m_query(db)
    {
        m_query.setForwardOnly(true);
        m_query.setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!m_query.prepare(sql))
            throw VelError(QStringLiteral("查询准备失败：%1").arg(m_query.lastError().text()));
        for (const QVariant &p : params)
            m_query.addBindValue(p);
        if (!m_query.exec())
            throw VelError(QStringLiteral("查询失败：%1").arg(m_query.lastError().text()));
    }
    bool Next() override { return m_query.next(); }
    bool IsNull(int c) const override { return m_query.isNull(c); }
    qint64 Int(int c) const override
    {
        const QVariant v = m_query.value(c);
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString();
            bool ok = false;
            const qint64 i = s.toLongLong(&ok);
            return ok ? i : qint64(s.toDouble());
        }
        return v.toLongLong();
    }
    double Double(int c) const override { return m_query.value(c).toDouble(); }
    QStringView Text(int c) const override
    {
        m_text = m_query.value(c).toString();
        return m_text;
    }

private:
    mutable QSqlQuery m_query;
    mutable QString m_text;
};

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
    // UTF-8 from the database, widened here into one reused buffer with no allocation per
    // value: one- to three-byte sequences (codes, dates, Chinese names) inline, anything else
    // (four-byte or malformed sequences) through Qt's decoder.
    QStringView Text(int c) const override
    {
        const auto *p = reinterpret_cast<const unsigned char *>(sqlite3_column_text(m_stmt, c));
        if (!p)
            return {};
        const int n = sqlite3_column_bytes(m_stmt, c);
        const size_t room = size_t(m_decoder.requiredSpace(n));
        if (room > m_wide.size())
            m_wide.resize(room * 2);
        char16_t *out = m_wide.data();
        // A leading byte order mark is dropped, as QString::fromUtf8 does.
        int i = n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF ? 3 : 0;
        int o = 0;
        while (i < n) {
            const unsigned b = p[i];
            if (b < 0x80) {
                out[o++] = char16_t(b);
                ++i;
                continue;
            }
            if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
                out[o++] = char16_t(((b & 0x1F) << 6) | (p[i + 1] & 0x3F));
                i += 2;
                continue;
            }
            if (b >= 0xE0 && b <= 0xEF && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
                const unsigned u = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
                if (u >= 0x800 && (u < 0xD800 || u > 0xDFFF)) {
                    out[o++] = char16_t(u);
                    i += 3;
                    continue;
                }
            }
            const QChar *end = m_decoder.appendToBuffer(reinterpret_cast<QChar *>(out + o),
                                                        QByteArrayView(p + i, n - i));
            return QStringView(reinterpret_cast<const QChar *>(out), end);
        }
        return QStringView(out, o);
    }
    // SQLite gives a null pointer for NULL only; an empty text comes back as the buffer.
    QStringView TextOrNull(int c) const override { return Text(c); }

private:
    [[noreturn]] void fail(const QString &what) const
    {
        throw VelError(QStringLiteral("%1：%2").arg(what, QString::fromUtf8(sqlite3_errmsg(m_db))));
    }
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    mutable std::u16string m_wide;
    mutable QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom};
};

class SqliteDriver final : public DbDriver
{
public:
    QString Name() const override { return QStringLiteral("SQLite"); }
    QString QtDriverName() const override { return QStringLiteral("QSQLITE"); }

    void Open(QSqlDatabase &db, const ConnectionText &text, bool readOnly) const override
    {
        const QString path = text.Database();
        if (readOnly && !QFileInfo::exists(path))
            throw VelError(QStringLiteral("数据库文件不存在：%1").arg(text.Redact(path)));
        db.setDatabaseName(path);
        db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                      : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            throw VelError(QStringLiteral("无法打开数据库文件 %1：%2")
                               .arg(text.Redact(path), text.Redact(db.lastError().text())));
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            throw VelError(QStringLiteral("%1 不是可用的数据库文件：%2")
                               .arg(text.Redact(path), text.Redact(q.lastError().text())));
        const QVariant handle = db.driver()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
            if (sqlite3 *h = *static_cast<sqlite3 *const *>(handle.data()))
                TextFold::RegisterSqlite(h);
        }
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
        const QVariant handle = db.driver()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
            if (sqlite3 *h = *static_cast<sqlite3 *const *>(handle.data()))
                return std::make_unique<SqliteCursor>(h, sql, params);
        }
        return DbDriver::Select(db, sql, params);
    }
};

class PostgresDriver final : public DbDriver
{
public:
    QString Name() const override { return QStringLiteral("PostgreSQL"); }
    QString QtDriverName() const override { return QStringLiteral("QPSQL"); }

    void Open(QSqlDatabase &db, const ConnectionText &text, bool readOnly) const override
    {
        const QString host = text.Host().trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : text.Host().trimmed();
        const int port = text.Port(5432);
        db.setHostName(host);
        db.setPort(port);
        db.setDatabaseName(text.Database());
        db.setUserName(text.User());
        db.setPassword(text.Password());
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
        const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
        if (!db.open()) {
            const QString detail = text.Redact(db.lastError().text());
            const QString lower = detail.toLower();
            if (lower.contains(u"authentication") || lower.contains(u"password")
                || lower.contains(u"role") || lower.contains(u"pg_hba"))
                throw VelError(QStringLiteral("数据库服务器 %1 拒绝了用户“%2”的登录：%3")
                                   .arg(where, text.Redact(text.User()), detail));
            if (lower.contains(u"database") && lower.contains(u"does not exist"))
                throw VelError(QStringLiteral("数据库服务器 %1 上没有数据库“%2”：%3")
                                   .arg(where, text.Redact(text.Database()), detail));
            throw VelError(QStringLiteral("无法连接数据库服务器 %1：%2").arg(where, detail));
        }
        QSqlQuery q(db);
        QStringList setup{QStringLiteral("SET client_encoding TO 'UTF8'"),
                          QStringLiteral("SET standard_conforming_strings TO on")};
        if (readOnly)
            setup << QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
        for (const QString &sql : setup) {
            if (!q.exec(sql))
                throw VelError(QStringLiteral("数据库会话设置失败：%1").arg(text.Redact(q.lastError().text())));
        }
        // ICU's root locale lowercases alike whatever the database's own locale is.
        m_icu = q.exec(QStringLiteral("SELECT 1 FROM pg_collation WHERE collname = 'und-x-icu'")) && q.next();
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

private:
    mutable bool m_icu = false;   // found when the session opens
};

} // namespace

std::unique_ptr<DbDriver> DbDriver::Create(const ConnectionText &text)
{
    text.Validate();
    std::unique_ptr<DbDriver> driver;
    if (text.Driver() == ConnectionText::Engine::SQLite)
        driver = std::make_unique<SqliteDriver>();
    else
        driver = std::make_unique<PostgresDriver>();
    if (!QSqlDatabase::isDriverAvailable(driver->QtDriverName()))
        throw VelError(QStringLiteral("没有安装 %1 数据库驱动（Qt 插件 %2）")
                           .arg(driver->Name(), driver->QtDriverName()));
    return driver;
}

QString DbDriver::SchemaSql(const QString &ddl) const
{
    const SchemaTypes t = Types();
    QString s = ddl;
    s.replace(QStringLiteral("%ID"), t.id).replace(QStringLiteral("%INT"), t.integer)
        .replace(QStringLiteral("%DT"), t.dateTime).replace(QStringLiteral("%CODE"), t.code)
        .replace(QStringLiteral("%TEXT"), t.text);
    return s;
}

std::unique_ptr<RowCursor> DbDriver::Select(const QSqlDatabase &db, const QString &sql,
                                            const QVariantList &params) const
{
    return std::make_unique<QtCursor>(db, sql, params);
}
