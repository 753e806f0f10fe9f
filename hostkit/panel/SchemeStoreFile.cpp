#include "SchemeStore.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <sqlite3.h>

// The scheme file itself: opened only as far as needed, checked, set aside when damaged or not
// ours, and written in transactions that wait out another process's lock.
namespace {

// Marks the file as ours; anything else under that name is set aside, never overwritten.
constexpr qint32 ApplicationId = 0x56465343; // "VFSC"
constexpr qint32 SchemaVersion = 1;

// SQLite's primary result codes that decide what a failure means.
enum SqliteCode { SqlError = 1, Perm = 3, Busy = 5, Locked = 6, ReadOnly = 8, IoErr = 10, Corrupt = 11, Full = 13,
                  CantOpen = 14, NotADb = 26 };

int primaryCode(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : 0; // extended codes carry the primary one in the low byte
}

bool isBusy(const QSqlError &error)
{
    const int code = primaryCode(error);
    return code == Busy || code == Locked;
}

bool isDamage(const QSqlError &error)
{
    const int code = primaryCode(error);
    return code == Corrupt || code == NotADb;
}

// Waits for another process's lock in short random steps up to the bounded wait. SQLite's own
// handler backs off to 100 ms sleeps, and another host saving in a tight loop can then keep
// winning the lock for seconds.
int waitWhileBusy(void *context, int attempt)
{
    auto *wait = static_cast<std::pair<int, QElapsedTimer> *>(context);
    if (attempt == 0)
        wait->second.start();
    if (wait->second.elapsed() >= wait->first)
        return 0;
    QThread::usleep(500 + QRandomGenerator::global()->bounded(2500));
    return 1;
}

QString newerVersionText() { return QStringLiteral("过滤方案文件由较新版本的程序创建，只能查看和恢复方案，不能保存。"); }
QString readOnlyFileText() { return QStringLiteral("过滤方案文件是只读的，只能查看和恢复方案，不能保存。"); }

} // namespace

QString SchemeStore::DefaultPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(dir).filePath(QStringLiteral("filter-schemes.sqlite"));
}

SchemeStore::SchemeStore(const QString &path, int busyWaitMs)
    : m_path(path),
      m_connection(QStringLiteral("velvip-schemes-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_busyWaitMs(busyWaitMs)
{
    // Problems with an existing file are known (and told) from the start.
    openForReading();
}

SchemeStore::~SchemeStore()
{
    close();
    QSqlDatabase::removeDatabase(m_connection);
}

bool SchemeStore::open(Mode mode, QSqlError &error) const
{
    close();
    QSqlDatabase db = QSqlDatabase::contains(m_connection) ? QSqlDatabase::database(m_connection, false)
                                                           : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(mode == Mode::ReadOnly ? QStringLiteral("QSQLITE_OPEN_READONLY") : QString());
    if (!db.open()) {
        error = db.lastError();
        return false;
    }
    const QVariant handle = db.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        m_busyWait.first = m_busyWaitMs;
        sqlite3_busy_handler(*static_cast<sqlite3 *const *>(handle.constData()), waitWhileBusy, &m_busyWait);
    }
    // The default rollback journal with full syncs: a write interrupted at any point is undone
    // on the next open, so a scheme is either the old one or the new one.
    if (mode == Mode::ReadWrite)
        QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=FULL"));
    m_mode = mode;
    return true;
}

void SchemeStore::close() const
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    m_mode = Mode::Closed;
}

// Opens an existing file for reading and checks it once. False when there is nothing to read:
// no file yet, or a problem that the warning names.
bool SchemeStore::openForReading() const
{
    if (m_mode != Mode::Closed)
        return true;
    if (!QFileInfo::exists(m_path))
        return false;
    QSqlError error;
    if (open(Mode::ReadOnly, error) && checkFile(error))
        return true;
    // A crashed writer's journal can only be rolled back by a connection that may write.
    if (error.isValid() && primaryCode(error) == ReadOnly && QFileInfo(m_path).isWritable()
        && open(Mode::ReadWrite, error) && checkFile(error))
        return true;
    return !error.isValid() ? false : readFailed(error);
}

// True when the file is a sound scheme file. A file SQLite finds damaged, or one that is not
// ours, is set aside (false, error left empty); an SQL failure (busy, ...) is left in `error`.
bool SchemeStore::checkFile(QSqlError &error) const
{
    QVariant check, appId, version, objects;
    {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        auto value = [&q](const char *sql, QVariant &out) {
            if (!q.exec(QLatin1String(sql)) || !q.next())
                return false;
            out = q.value(0);
            return true;
        };
        if (!value("PRAGMA quick_check", check) || !value("PRAGMA application_id", appId)
            || !value("PRAGMA user_version", version) || !value("SELECT count(*) FROM sqlite_master", objects)) {
            error = q.lastError();
            if (!isDamage(error))
                return false;
            check = QString();
        }
    }
    error = QSqlError();
    if (check.toString() != QLatin1String("ok")) {
        setAside(QStringLiteral("已损坏"));
        return false;
    }
    if (objects.toInt() > 0 && appId.toInt() != ApplicationId) {
        setAside(QStringLiteral("不是本程序的方案文件"));
        return false;
    }
    if (version.toInt() > SchemaVersion)
        m_readOnlyReason = newerVersionText();
    else if (!QFileInfo(m_path).isWritable())
        m_readOnlyReason = readOnlyFileText();
    if (!m_readOnlyReason.isEmpty())
        m_warning = m_readOnlyReason;
    return true;
}

bool SchemeStore::tablesExist() const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    return q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'scheme'")) && q.next()
           && q.value(0).toInt() > 0;
}

// A failed read: a busy file is tried again on the next read, a damaged one is set aside.
// A file that holds no tables yet (another process has just created it) simply holds nothing.
bool SchemeStore::readFailed(const QSqlError &error) const
{
    if (primaryCode(error) == SqlError && m_mode != Mode::Closed && !tablesExist())
        return false;
    if (isDamage(error)) {
        setAside(QStringLiteral("已损坏"));
        return false;
    }
    close();
    if (isBusy(error))
        m_warning = QStringLiteral("过滤方案文件正被其他程序使用，暂时无法读取，请稍后再试。");
    else
        fail(QStringLiteral("无法读取过滤方案文件"), error.text());
    return false;
}

void SchemeStore::setAside(const QString &why) const
{
    close();
    const QString aside = m_path + QStringLiteral(".corrupt-")
                          + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    const bool moved = QFile::rename(m_path, aside);
    // A journal belongs to the file it was written for.
    if (!QFile::rename(m_path + QStringLiteral("-journal"), aside + QStringLiteral("-journal")))
        QFile::remove(m_path + QStringLiteral("-journal"));
    if (!moved)
        QFile::remove(m_path);
    m_warning = moved ? QStringLiteral("过滤方案文件%1，已另存为 %2；以后的方案保存在新文件中。").arg(why, aside)
                      : QStringLiteral("过滤方案文件%1，已删除；以后的方案保存在新文件中。").arg(why);
}

// Runs `body` in one transaction that takes the write lock at its start (a deferred one could
// meet another writer half-way, where SQLite gives up at once instead of waiting). While the
// file is busy the whole transaction is tried again, up to the bounded wait.
bool SchemeStore::write(const QString &what, const std::function<Step(QSqlQuery &)> &body)
{
    openForReading(); // an existing file is checked before its first write
    if (!m_readOnlyReason.isEmpty()) {
        m_warning = m_readOnlyReason;
        return false;
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QElapsedTimer waited;
    waited.start();
    bool setAsideOnce = false;
    for (;;) {
        QSqlError error;
        if (m_mode == Mode::ReadWrite || open(Mode::ReadWrite, error)) {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            QSqlQuery q(db);
            Step step = q.exec(QStringLiteral("BEGIN IMMEDIATE")) ? Step::Done : Step::SqlError;
            if (step == Step::Done)
                step = createSchema(q);
            if (step == Step::Done)
                step = body(q);
            if (step == Step::Done && q.exec(QStringLiteral("COMMIT"))) {
                m_warning.clear();
                return true;
            }
            error = q.lastError();
            q.finish();
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            if (step == Step::Refused)
                return false;
        }
        if (isBusy(error) && waited.elapsed() < m_busyWaitMs) {
            QThread::msleep(QRandomGenerator::global()->bounded(5, 40));
            continue;
        }
        if (isDamage(error) && !setAsideOnce) {
            setAsideOnce = true;
            setAside(QStringLiteral("已损坏"));
            continue;
        }
        return writeFailed(what, error);
    }
}

SchemeStore::Step SchemeStore::createSchema(QSqlQuery &q)
{
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return Step::SqlError;
    const int version = q.value(0).toInt();
    q.finish();
    if (version > SchemaVersion) {
        // Made newer since it was opened: a downgrade would break the newer program's saves.
        m_readOnlyReason = m_warning = newerVersionText();
        return Step::Refused;
    }
    if (version == SchemaVersion)
        return Step::Done;
    const bool ok =
        q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS scheme ("
                              " id INTEGER PRIMARY KEY, report_id INTEGER NOT NULL, kind INTEGER NOT NULL,"
                              " name TEXT NOT NULL, saved_at TEXT NOT NULL, UNIQUE (report_id, kind, name))"))
        && q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS scheme_value ("
                                 " scheme_id INTEGER NOT NULL, position INTEGER NOT NULL, key TEXT NOT NULL,"
                                 " type TEXT NOT NULL, value TEXT, PRIMARY KEY (scheme_id, position))"))
        && q.exec(QStringLiteral("PRAGMA application_id=%1").arg(ApplicationId))
        && q.exec(QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion));
    return ok ? Step::Done : Step::SqlError;
}

bool SchemeStore::writeFailed(const QString &what, const QSqlError &error)
{
    switch (primaryCode(error)) {
    case Busy:
    case Locked:
        m_warning = QStringLiteral("过滤方案文件正被其他程序使用，请稍后再保存。");
        break;
    case ReadOnly:
    case Perm:
    case CantOpen:
        m_readOnlyReason = m_warning = readOnlyFileText();
        break;
    case Full:
        m_warning = QStringLiteral("磁盘空间不足，过滤方案无法保存；已保存的方案仍可查看和恢复。");
        break;
    case IoErr:
        m_warning = QStringLiteral("写入过滤方案文件时磁盘出错，过滤方案无法保存；已保存的方案仍可查看和恢复。");
        break;
    default:
        fail(what, error.text());
        break;
    }
    return false;
}

bool SchemeStore::fail(const QString &what, const QString &detail) const
{
    m_warning = detail.isEmpty() ? what : what + QStringLiteral("：") + detail;
    return false;
}
