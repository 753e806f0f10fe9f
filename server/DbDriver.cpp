#include "DbDriver.h"

#include "RowCursor.h"
#include "VelError.h"

#include <QSqlError>
#include <QSqlQuery>

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

} // namespace

std::unique_ptr<DbDriver> DbDriver::Create(const ConnectionText &text)
{
    text.Validate();
    std::unique_ptr<DbDriver> driver;
    if (text.Driver() == ConnectionText::Engine::SQLite)
        driver = NewSqlite(text);
    else
        driver = NewPostgres(text);
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
