#include "SchemeStore.h"

#include "Dictionary.h"
#include "SchemeValues.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

// Schemes read and written: one row per scheme, one per value with its type.
namespace {

// The name under which the last confirmed filter is kept (its own kind, so no user name clashes;
// a null text would bind as SQL NULL).
constexpr const char *LastName = "last confirmed";

} // namespace

QStringList SchemeStore::Names(qint32 reportId) const
{
    QStringList names;
    if (!openForReading())
        return names;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT name FROM scheme WHERE report_id = ? AND kind = ? ORDER BY name"));
    q.addBindValue(reportId);
    q.addBindValue(int(Named));
    if (!q.exec()) {
        readFailed(q.lastError());
        return names;
    }
    while (q.next())
        names << q.value(0).toString();
    return names;
}

bool SchemeStore::Contains(qint32 reportId, const QString &name) const
{
    return Names(reportId).contains(name);
}

DictionaryPtr SchemeStore::Load(qint32 reportId, const QString &name) const
{
    return load(reportId, Named, name);
}

DictionaryPtr SchemeStore::LoadLast(qint32 reportId) const
{
    return load(reportId, Last, QLatin1String(LastName));
}

bool SchemeStore::Save(qint32 reportId, const QString &name, const Dictionary &filter)
{
    if (name.trimmed().isEmpty())
        return fail(QStringLiteral("方案名称不能为空"), QString());
    return save(reportId, Named, name, filter);
}

bool SchemeStore::SaveLast(qint32 reportId, const Dictionary &filter)
{
    return save(reportId, Last, QLatin1String(LastName), filter);
}

DictionaryPtr SchemeStore::load(qint32 reportId, Kind kind, const QString &name) const
{
    if (!openForReading())
        return nullptr;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT v.key, v.type, v.value FROM scheme s"
                             " LEFT JOIN scheme_value v ON v.scheme_id = s.id"
                             " WHERE s.report_id = ? AND s.kind = ? AND s.name = ? ORDER BY v.position"));
    q.addBindValue(reportId);
    q.addBindValue(int(kind));
    q.addBindValue(name);
    if (!q.exec()) {
        readFailed(q.lastError());
        return nullptr;
    }
    DictionaryPtr filter;
    while (q.next()) {
        if (!filter)
            filter = Dictionary::Create();
        if (!q.value(0).isNull())
            filter->SetValue(q.value(0).toString(), SchemeValues::Decode(q.value(1).toString(), q.value(2).toString()));
    }
    return filter;
}

bool SchemeStore::save(qint32 reportId, Kind kind, const QString &name, const Dictionary &filter)
{
    QVariantList positions, keys, types, values;
    for (const QString &key : filter.Keys()) {
        QString type, text;
        if (!SchemeValues::Encode(filter.Value(key), type, text))
            continue;
        positions << positions.size();
        keys << key;
        types << type;
        values << text;
    }
    return write(QStringLiteral("无法写入过滤方案"), [&](QSqlQuery &q) {
        auto run = [&](const char *sql, std::initializer_list<QVariant> binds) {
            q.prepare(QLatin1String(sql));
            for (const QVariant &b : binds)
                q.addBindValue(b);
            return q.exec();
        };
        const std::initializer_list<QVariant> which = {reportId, int(kind), name};
        if (!run("DELETE FROM scheme_value WHERE scheme_id IN"
                 " (SELECT id FROM scheme WHERE report_id = ? AND kind = ? AND name = ?)", which)
            || !run("DELETE FROM scheme WHERE report_id = ? AND kind = ? AND name = ?", which)
            || !run("INSERT INTO scheme (report_id, kind, name, saved_at) VALUES (?, ?, ?, ?)",
                    {reportId, int(kind), name, QDateTime::currentDateTime().toString(Qt::ISODate)}))
            return Step::SqlError;
        if (keys.isEmpty())
            return Step::Done;
        const QVariantList ids(keys.size(), q.lastInsertId());
        q.prepare(QStringLiteral("INSERT INTO scheme_value (scheme_id, position, key, type, value) VALUES (?, ?, ?, ?, ?)"));
        q.addBindValue(ids);
        q.addBindValue(positions);
        q.addBindValue(keys);
        q.addBindValue(types);
        q.addBindValue(values);
        return q.execBatch() ? Step::Done : Step::SqlError;
    });
}

bool SchemeStore::Rename(qint32 reportId, const QString &from, const QString &to)
{
    if (to.trimmed().isEmpty())
        return fail(QStringLiteral("方案名称不能为空"), QString());
    if (from == to)
        return Contains(reportId, from);
    int renamed = 0;
    const bool ok = write(QStringLiteral("无法重命名过滤方案"), [&](QSqlQuery &q) {
        q.prepare(QStringLiteral("SELECT count(*) FROM scheme WHERE report_id = ? AND kind = ? AND name = ?"));
        q.addBindValue(reportId);
        q.addBindValue(int(Named));
        q.addBindValue(to);
        if (!q.exec() || !q.next())
            return Step::SqlError;
        if (q.value(0).toInt() > 0) {
            fail(QStringLiteral("已有同名的过滤方案：%1").arg(to), QString());
            return Step::Refused;
        }
        q.prepare(QStringLiteral("UPDATE scheme SET name = ? WHERE report_id = ? AND kind = ? AND name = ?"));
        q.addBindValue(to);
        q.addBindValue(reportId);
        q.addBindValue(int(Named));
        q.addBindValue(from);
        if (!q.exec())
            return Step::SqlError;
        renamed = q.numRowsAffected();
        return Step::Done;
    });
    return ok && renamed == 1;
}

bool SchemeStore::Remove(qint32 reportId, const QString &name)
{
    int removed = 0;
    const bool ok = write(QStringLiteral("无法删除过滤方案"), [&](QSqlQuery &q) {
        for (const char *sql : {"DELETE FROM scheme_value WHERE scheme_id IN"
                                " (SELECT id FROM scheme WHERE report_id = ? AND kind = ? AND name = ?)",
                                "DELETE FROM scheme WHERE report_id = ? AND kind = ? AND name = ?"}) {
            q.prepare(QLatin1String(sql));
            q.addBindValue(reportId);
            q.addBindValue(int(Named));
            q.addBindValue(name);
            if (!q.exec())
                return Step::SqlError;
        }
        removed = q.numRowsAffected();
        return Step::Done;
    });
    return ok && removed == 1;
}
