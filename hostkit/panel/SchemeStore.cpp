#include "SchemeStore.h"

#include "Dictionary.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>

namespace {

// Marks the file as ours; anything else under that name is set aside, never overwritten.
constexpr qint32 ApplicationId = 0x56465343; // "VFSC"
constexpr qint32 SchemaVersion = 1;
// The name under which the last confirmed filter is kept (its own kind, so no user name clashes;
// a null text would bind as SQL NULL).
constexpr const char *LastName = "last confirmed";

struct Encoded {
    QString type;
    QString text;
};

// Only plain values are kept; objects (nested dictionaries and the like) are not filter values.
bool encode(const QVariant &v, Encoded &out)
{
    switch (v.typeId()) {
    case QMetaType::UnknownType: out = {QStringLiteral("empty"), QString()}; return true;
    case QMetaType::Short: out = {QStringLiteral("i16"), QString::number(v.value<qint16>())}; return true;
    case QMetaType::Int: out = {QStringLiteral("i32"), QString::number(v.toInt())}; return true;
    case QMetaType::LongLong: out = {QStringLiteral("i64"), QString::number(v.toLongLong())}; return true;
    case QMetaType::Double: out = {QStringLiteral("double"), QString::number(v.toDouble(), 'g', 17)}; return true;
    case QMetaType::Bool: out = {QStringLiteral("bool"), v.toBool() ? QStringLiteral("1") : QStringLiteral("0")}; return true;
    case QMetaType::QString: out = {QStringLiteral("text"), v.toString()}; return true;
    case QMetaType::QDateTime: out = {QStringLiteral("datetime"), v.toDateTime().toString(Qt::ISODateWithMs)}; return true;
    case QMetaType::QDate: out = {QStringLiteral("date"), v.toDate().toString(Qt::ISODate)}; return true;
    default: return false;
    }
}

QVariant decode(const QString &type, const QString &text)
{
    if (type == QLatin1String("i16")) return QVariant::fromValue(qint16(text.toShort()));
    if (type == QLatin1String("i32")) return QVariant::fromValue(qint32(text.toInt()));
    if (type == QLatin1String("i64")) return QVariant::fromValue(qint64(text.toLongLong()));
    if (type == QLatin1String("double")) return QVariant(text.toDouble());
    if (type == QLatin1String("bool")) return QVariant(text == QLatin1String("1"));
    if (type == QLatin1String("text")) return QVariant(text);
    if (type == QLatin1String("datetime")) return QVariant(QDateTime::fromString(text, Qt::ISODateWithMs));
    if (type == QLatin1String("date")) return QVariant(QDate::fromString(text, Qt::ISODate));
    return QVariant();
}

} // namespace

QString SchemeStore::DefaultPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(dir).filePath(QStringLiteral("filter-schemes.sqlite"));
}

SchemeStore::SchemeStore(const QString &path)
    : m_path(path),
      m_connection(QStringLiteral("velvip-schemes-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_open = openFile();
    if (m_open && !isSound()) {
        setAside(QStringLiteral("文件不完整或已损坏"));
        m_open = openFile();
    }
    if (m_open)
        m_open = createSchema();
}

SchemeStore::~SchemeStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool SchemeStore::openFile()
{
    QSqlDatabase db = QSqlDatabase::contains(m_connection) ? QSqlDatabase::database(m_connection, false)
                                                           : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    if (!db.open())
        return fail(QStringLiteral("无法打开过滤方案文件"), db.lastError().text());
    QSqlQuery q(db);
    // A rollback journal with full syncs: a write interrupted at any point is undone on the
    // next open, so a scheme is either the old one or the new one.
    q.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    return true;
}

bool SchemeStore::isSound() const
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next() || q.value(0).toString() != QLatin1String("ok"))
        return false;
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
        return false;
    const qint32 appId = q.value(0).toInt();
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next())
        return false;
    const int objects = q.value(0).toInt();
    if (objects == 0)
        return true; // a new, empty file
    if (appId != ApplicationId)
        return false;
    if (!q.exec(QStringLiteral("SELECT count(*) FROM scheme")) || !q.exec(QStringLiteral("SELECT count(*) FROM scheme_value")))
        return false;
    return true;
}

void SchemeStore::setAside(const QString &why)
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    const QString aside = m_path + QStringLiteral(".corrupt-")
                          + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const bool moved = QFile::rename(m_path, aside);
    QFile::remove(m_path + QStringLiteral("-journal"));
    if (!moved)
        QFile::remove(m_path);
    m_warning = moved ? QStringLiteral("过滤方案文件%1，已另存为 %2，并新建了空的方案文件。").arg(why, aside)
                      : QStringLiteral("过滤方案文件%1，已删除并新建了空的方案文件。").arg(why);
}

bool SchemeStore::createSchema()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!db.transaction())
        return fail(QStringLiteral("无法写入过滤方案文件"), db.lastError().text());
    const bool ok =
        q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS scheme ("
                              " id INTEGER PRIMARY KEY, report_id INTEGER NOT NULL, kind INTEGER NOT NULL,"
                              " name TEXT NOT NULL, saved_at TEXT NOT NULL, UNIQUE (report_id, kind, name))"))
        && q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS scheme_value ("
                                 " scheme_id INTEGER NOT NULL, position INTEGER NOT NULL, key TEXT NOT NULL,"
                                 " type TEXT NOT NULL, value TEXT, PRIMARY KEY (scheme_id, position))"))
        && q.exec(QStringLiteral("PRAGMA application_id=%1").arg(ApplicationId))
        && q.exec(QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion));
    if (!ok) {
        const QString detail = q.lastError().text();
        db.rollback();
        return fail(QStringLiteral("无法写入过滤方案文件"), detail);
    }
    if (!db.commit())
        return fail(QStringLiteral("无法写入过滤方案文件"), db.lastError().text());
    return true;
}

bool SchemeStore::fail(const QString &what, const QString &detail) const
{
    m_warning = detail.isEmpty() ? what : what + QStringLiteral("：") + detail;
    return false;
}

QStringList SchemeStore::Names(qint32 reportId) const
{
    QStringList names;
    if (!m_open)
        return names;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT name FROM scheme WHERE report_id = ? AND kind = ? ORDER BY name"));
    q.addBindValue(reportId);
    q.addBindValue(int(Named));
    if (!q.exec()) {
        fail(QStringLiteral("无法读取过滤方案"), q.lastError().text());
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
    if (!m_open)
        return nullptr;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT v.key, v.type, v.value FROM scheme s"
                             " LEFT JOIN scheme_value v ON v.scheme_id = s.id"
                             " WHERE s.report_id = ? AND s.kind = ? AND s.name = ? ORDER BY v.position"));
    q.addBindValue(reportId);
    q.addBindValue(int(kind));
    q.addBindValue(name);
    if (!q.exec()) {
        fail(QStringLiteral("无法读取过滤方案"), q.lastError().text());
        return nullptr;
    }
    DictionaryPtr filter;
    while (q.next()) {
        if (!filter)
            filter = Dictionary::Create();
        if (!q.value(0).isNull())
            filter->SetValue(q.value(0).toString(), decode(q.value(1).toString(), q.value(2).toString()));
    }
    return filter;
}

bool SchemeStore::save(qint32 reportId, Kind kind, const QString &name, const Dictionary &filter)
{
    if (!m_open)
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return fail(QStringLiteral("无法写入过滤方案"), db.lastError().text());
    auto abort = [&](const QSqlQuery &q) {
        const QString detail = q.lastError().text();
        db.rollback();
        return fail(QStringLiteral("无法写入过滤方案"), detail);
    };

    QSqlQuery q(db);
    q.prepare(QStringLiteral("DELETE FROM scheme_value WHERE scheme_id IN"
                             " (SELECT id FROM scheme WHERE report_id = ? AND kind = ? AND name = ?)"));
    q.addBindValue(reportId);
    q.addBindValue(int(kind));
    q.addBindValue(name);
    if (!q.exec())
        return abort(q);
    q.prepare(QStringLiteral("DELETE FROM scheme WHERE report_id = ? AND kind = ? AND name = ?"));
    q.addBindValue(reportId);
    q.addBindValue(int(kind));
    q.addBindValue(name);
    if (!q.exec())
        return abort(q);
    q.prepare(QStringLiteral("INSERT INTO scheme (report_id, kind, name, saved_at) VALUES (?, ?, ?, ?)"));
    q.addBindValue(reportId);
    q.addBindValue(int(kind));
    q.addBindValue(name);
    q.addBindValue(QDateTime::currentDateTime().toString(Qt::ISODate));
    if (!q.exec())
        return abort(q);
    const qint64 schemeId = q.lastInsertId().toLongLong();

    QVariantList ids, positions, keys, types, values;
    int position = 0;
    for (const QString &key : filter.Keys()) {
        Encoded e;
        if (!encode(filter.Value(key), e))
            continue;
        ids << schemeId;
        positions << position++;
        keys << key;
        types << e.type;
        values << e.text;
    }
    if (!ids.isEmpty()) {
        q.prepare(QStringLiteral("INSERT INTO scheme_value (scheme_id, position, key, type, value) VALUES (?, ?, ?, ?, ?)"));
        q.addBindValue(ids);
        q.addBindValue(positions);
        q.addBindValue(keys);
        q.addBindValue(types);
        q.addBindValue(values);
        if (!q.execBatch())
            return abort(q);
    }
    if (!db.commit())
        return fail(QStringLiteral("无法写入过滤方案"), db.lastError().text());
    m_warning.clear();
    return true;
}

bool SchemeStore::Rename(qint32 reportId, const QString &from, const QString &to)
{
    if (!m_open)
        return false;
    if (to.trimmed().isEmpty())
        return fail(QStringLiteral("方案名称不能为空"), QString());
    if (from == to)
        return Contains(reportId, from);
    if (Contains(reportId, to))
        return fail(QStringLiteral("已有同名的过滤方案：%1").arg(to), QString());
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE scheme SET name = ? WHERE report_id = ? AND kind = ? AND name = ?"));
    q.addBindValue(to);
    q.addBindValue(reportId);
    q.addBindValue(int(Named));
    q.addBindValue(from);
    if (!q.exec())
        return fail(QStringLiteral("无法重命名过滤方案"), q.lastError().text());
    return q.numRowsAffected() == 1;
}

bool SchemeStore::Remove(qint32 reportId, const QString &name)
{
    if (!m_open)
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return fail(QStringLiteral("无法删除过滤方案"), db.lastError().text());
    QSqlQuery q(db);
    q.prepare(QStringLiteral("DELETE FROM scheme_value WHERE scheme_id IN"
                             " (SELECT id FROM scheme WHERE report_id = ? AND kind = ? AND name = ?)"));
    q.addBindValue(reportId);
    q.addBindValue(int(Named));
    q.addBindValue(name);
    bool ok = q.exec();
    int removed = 0;
    if (ok) {
        q.prepare(QStringLiteral("DELETE FROM scheme WHERE report_id = ? AND kind = ? AND name = ?"));
        q.addBindValue(reportId);
        q.addBindValue(int(Named));
        q.addBindValue(name);
        ok = q.exec();
        removed = q.numRowsAffected();
    }
    if (!ok) {
        const QString detail = q.lastError().text();
        db.rollback();
        return fail(QStringLiteral("无法删除过滤方案"), detail);
    }
    if (!db.commit())
        return fail(QStringLiteral("无法删除过滤方案"), db.lastError().text());
    return removed == 1;
}
