// The saved-scheme store on its own: values and names, damaged files, and what other
// processes do to the shared file. The program re-invokes itself ("--child-...") to play the
// other process: a second host saving, a writer holding the file locked, a user who may not
// write, a process whose writes fail.

#include "Dictionary.h"
#include "SchemeStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr qint32 Report = 10903;

QStringList setAside(const QString &path)
{
    return QFileInfo(path).dir().entryList({QFileInfo(path).fileName() + QStringLiteral(".corrupt-*")});
}

// Runs SQL on the file through a connection of its own (as another program would); returns
// the first value the last statement gives.
QVariant runSql(const QString &path, const QStringList &statements)
{
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        for (const QString &sql : statements)
            if (!q.exec(sql))
                qWarning("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        if (q.next())
            value = q.value(0);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    return value;
}

Dictionary posFilter(const QString &pos)
{
    Dictionary f;
    f.SetValue(QStringLiteral("Pos"), pos);
    return f;
}

QProcess *startChild(QObject *parent, const QStringList &args)
{
    auto *p = new QProcess(parent);
    p->start(QCoreApplication::applicationFilePath(), args);
    return p;
}

// The probe of --child-probe on a copy of the store in a file system of its own (a tmpfs in a
// mount namespace, mounted on `dir`) with no room left.
QProcess *startOnFullDisk(QObject *parent, const QString &path, const QString &dir, int waitMs)
{
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=1m velvip-full \"$1\" && cp \"$2\" \"$1/store.sqlite\" "
        "&& { dd if=/dev/zero of=\"$1/fill\" bs=4k 2>/dev/null; true; } "
        "&& exec \"$3\" --child-probe \"$1/store.sqlite\" disk-full \"$4\"");
    auto *p = new QProcess(parent);
    p->start(QStringLiteral("unshare"), {"--mount", "--propagation", "private", "sh", "-c", script, "sh", dir, path,
                                         QCoreApplication::applicationFilePath(), QString::number(waitMs)});
    return p;
}

// Whether this process may mount a tmpfs in a mount namespace of its own.
bool canMountTmpfs(const QString &dir)
{
    if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        return false;
    QProcess p;
    p.start(QStringLiteral("unshare"), {"--mount", "--propagation", "private", "mount", "-t", "tmpfs", "-o", "size=64k",
                                        "velvip-check", dir});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// key=value lines of a child's output.
QMap<QString, QString> report(QProcess &p)
{
    QMap<QString, QString> values;
    for (const QString &line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    return values;
}

// --child-save PATH TAG N: a host that opens the store for every dialog and saves once each
// time (a named scheme, and every tenth time the last confirmed filter as well).
int childSave(const QStringList &a)
{
    int saved = 0;
    for (int i = 0; i < a.at(3).toInt(); ++i) {
        SchemeStore store(a.at(1));
        store.Names(Report);
        const QString name = QStringLiteral("%1-%2").arg(a.at(2)).arg(i);
        if (store.Save(Report, name, posFilter(name)))
            ++saved;
        else
            fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(store.Warning()));
        if (i % 10 == 0 && !store.SaveLast(Report, posFilter(name)))
            fprintf(stderr, "last: %s\n", qPrintable(store.Warning()));
    }
    printf("saved=%d\n", saved);
    return 0;
}

// --child-hold-lock PATH MS: another writer holding the file's exclusive lock.
int childHoldLock(const QStringList &a)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(a.at(1));
    if (!db.open() || !QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE")))
        return 1;
    printf("locked=1\n");
    fflush(stdout);
    QThread::msleep(a.at(2).toULong());
    QSqlQuery(db).exec(QStringLiteral("COMMIT"));
    return 0;
}

// --child-probe PATH HOW WAIT: lists, restores and tries to save as a user who may not write the
// file ("read-only"), a process whose writes fail ("no-write": a file size limit of 0), or plainly; then, once a line
// comes on its input, saves again with the same store.
int childProbe(const QStringList &a)
{
    if (a.at(2) == QLatin1String("read-only") && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return 2;
    if (a.at(2) == QLatin1String("no-write")) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit none{0, 0};
        setrlimit(RLIMIT_FSIZE, &none);
    }
    SchemeStore store(a.at(1), a.at(3).toInt());
    const DictionaryPtr restored = store.Load(Report, QStringLiteral("s07"));
    printf("names=%d\n", int(store.Names(Report).size()));
    printf("restored=%s\n", restored ? qPrintable(restored->Value(QStringLiteral("Pos")).toString()) : "");
    printf("saved=%d\n", store.Save(Report, QStringLiteral("new"), posFilter(QStringLiteral("P99"))) ? 1 : 0);
    printf("warning=%s\n", qPrintable(store.Warning()));
    fflush(stdout);
    getchar();
    printf("later=%d\n", store.Save(Report, QStringLiteral("later"), posFilter(QStringLiteral("P98"))) ? 1 : 0);
    return 0;
}

int runChild(const QStringList &a)
{
    if (a.at(0) == QLatin1String("--child-save"))
        return childSave(a);
    if (a.at(0) == QLatin1String("--child-hold-lock"))
        return childHoldLock(a);
    if (a.at(0) == QLatin1String("--child-probe"))
        return childProbe(a);
    return 3;
}

} // namespace

// holdMs: another writer holds the file's lock this long; reason: empty where saving works
struct Unavailable { QString how; int holdMs; int waitMs; QString reason; };

class tst_SchemeStore : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = QDir(m_dir.path()).filePath(QStringLiteral("%1.sqlite").arg(QTest::currentTestFunction()));
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(QDir(m_dir.path()).filePath(f));
    }

    // Values keep their types and the keys their order; reading never creates the file.
    void keepsValuesAndNamesPerReport()
    {
        QVERIFY(SchemeStore(m_path).Names(Report).isEmpty());
        QVERIFY(!QFile::exists(m_path));
        const QVariantList values{QVariant::fromValue(qint16(-7)), QVariant::fromValue(qint32(2025)),
                                  QVariant::fromValue(qint64(1) << 40), QVariant(0.1 + 0.2), QVariant(true),
                                  QVariant(QStringLiteral("王's \"card\"; 1=1")), QVariant(QString("")),
                                  QVariant(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 500))), QVariant(QDate(2024, 2, 29)),
                                  QVariant()};
        Dictionary filter;
        filter.SetValue(QStringLiteral("Z first"), 1);
        for (qsizetype i = 0; i < values.size(); ++i)
            filter.SetValue(QStringLiteral("value%1").arg(i), values[i]);
        filter.SetValue(QStringLiteral("A last"), 2);
        QVERIFY(SchemeStore(m_path).Save(Report, QStringLiteral("mine"), filter));
        const DictionaryPtr back = SchemeStore(m_path).Load(Report, QStringLiteral("mine"));
        QVERIFY(back);
        QCOMPARE(back->Keys(), filter.Keys());
        for (qsizetype i = 0; i < values.size(); ++i) {
            const QVariant got = back->Value(QStringLiteral("value%1").arg(i));
            QVERIFY2(got.typeId() == values[i].typeId() && got == values[i], qPrintable(values[i].toString()));
        }
        // Names per report, sorted, each renamed or removed once.
        SchemeStore store(m_path);
        QVERIFY(store.Names(10906).isEmpty());
        const Dictionary f = posFilter(QStringLiteral("1"));
        QVERIFY(store.Save(10906, QStringLiteral("b"), f));
        QVERIFY(store.Save(10906, QStringLiteral("a"), f));
        QVERIFY(store.Save(10905, QStringLiteral("other report"), f));
        QVERIFY(!store.Save(10906, QStringLiteral("  "), f));
        QCOMPARE(store.Names(10906), QStringList({"a", "b"}));
        QVERIFY(!store.Rename(10906, QStringLiteral("a"), QStringLiteral("b")));
        QVERIFY(!store.Warning().isEmpty());
        QVERIFY(store.Rename(10906, QStringLiteral("a"), QStringLiteral("c")));
        QVERIFY(store.Remove(10906, QStringLiteral("b")));
        QVERIFY(!store.Remove(10906, QStringLiteral("b")));
        QCOMPARE(store.Names(10906), QStringList({"c"}));
        QCOMPARE(store.Names(10905), QStringList({"other report"}));
        QVERIFY(!store.LoadLast(10906));
    }

    // A file that is not a sound scheme database is set aside with a message, never a crash.
    void damagedFileIsSetAside_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("half-written") << "truncated";
        QTest::newRow("someone else's database") << "foreign";
    }
    void damagedFileIsSetAside()
    {
        QFETCH(QString, damage);
        {
            SchemeStore store(m_path);
            Dictionary f;
            for (int i = 0; i < 400; ++i)
                f.SetValue(QStringLiteral("key%1").arg(i), QStringLiteral("a fairly long value to fill pages %1").arg(i));
            QVERIFY(store.Save(Report, QStringLiteral("big"), f));
        }
        QFile file(m_path);
        if (damage == "garbage") {
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(5000, '\x5a'));
        } else if (damage == "truncated") {
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > 8192);
            QVERIFY(file.resize(file.size() / 2));
        } else {
            QFile::remove(m_path);
            runSql(m_path, {QStringLiteral("CREATE TABLE notes (t TEXT)")});
        }
        file.close();

        SchemeStore store(m_path);
        QVERIFY2(store.Warning().contains(QStringLiteral("已另存为")), qPrintable(store.Warning()));
        QVERIFY2(!store.Warning().contains(QStringLiteral("文件文件")), qPrintable(store.Warning()));
        QCOMPARE(setAside(m_path).size(), 1);
        QVERIFY(store.Names(Report).isEmpty());
        QVERIFY(store.Save(Report, QStringLiteral("fresh"), posFilter(QStringLiteral("P01"))));
        QCOMPARE(SchemeStore(m_path).Names(Report), QStringList{"fresh"});
    }

    // A file that may not be written refuses saving with the reason, and another writer holding
    // it is waited for; listing and restoring still work, and neither is taken for damage.
    void unavailableFileIsNotDamaged_data()
    {
        QTest::addColumn<Unavailable>("row");
        const int wait = SchemeStore::DefaultBusyWaitMs;
        QTest::newRow("lock released within the wait") << Unavailable{"locked", 2000, wait, ""};
        QTest::newRow("lock outlasts the wait") << Unavailable{"locked", 6000, 300, "正被其他程序使用"};
        QTest::newRow("made by a newer version") << Unavailable{"newer", 0, wait, "较新版本"};
        QTest::newRow("read-only file") << Unavailable{"read-only", 0, wait, "只读"};
        QTest::newRow("writes fail") << Unavailable{"no-write", 0, wait, "写入过滤方案文件时磁盘出错"};
        QTest::newRow("disk full") << Unavailable{"disk-full", 0, wait, "磁盘空间不足"};
    }
    void unavailableFileIsNotDamaged()
    {
        QFETCH(Unavailable, row);
        const auto &[how, holdMs, waitMs, reason] = row;
        if (how == "disk-full" && !canMountTmpfs(m_dir.path()))
            QSKIP("a full file system of its own needs root, unshare and a tmpfs mount");
        {
            SchemeStore store(m_path);
            for (int i = 0; i < 20; ++i)
                QVERIFY(store.Save(Report, QStringLiteral("s%1").arg(i, 2, 10, QLatin1Char('0')), posFilter(QStringLiteral("P%1").arg(i))));
        }
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                | QFileDevice::ReadOther | QFileDevice::ExeOther);
        if (how == "newer")
            runSql(m_path, {QStringLiteral("ALTER TABLE scheme ADD COLUMN owner TEXT NOT NULL DEFAULT 'x'"),
                            QStringLiteral("PRAGMA user_version=2")});
        if (how == "read-only") {
            QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::ReadOther);
            QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                    | QFileDevice::ExeOther);
        }
        QProcess *writer = holdMs ? startChild(this, {"--child-hold-lock", m_path, QString::number(holdMs)}) : nullptr;
        QVERIFY(!writer || writer->waitForReadyRead(10000));
        const QString mountPoint = QDir(m_dir.path()).filePath(QStringLiteral("full"));
        QVERIFY(how != "disk-full" || QDir().mkpath(mountPoint));
        QProcess *probe = how == "disk-full" ? startOnFullDisk(this, m_path, mountPoint, waitMs)
                                             : startChild(this, {"--child-probe", m_path, how, QString::number(waitMs)});
        // Once the other writer is done, the same store writes again.
        QVERIFY(!writer || writer->waitForFinished(10000));
        probe->write("\n");
        probe->closeWriteChannel();
        QVERIFY(probe->waitForFinished(30000));
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(probe->exitCode(), 0);
        const bool outlasted = holdMs > waitMs, locked = how == "locked";
        const auto seen = report(*probe);
        QCOMPARE(seen.value("names"), outlasted ? "0" : "20");
        QCOMPARE(seen.value("restored"), outlasted ? "" : "P7");
        QCOMPARE(seen.value("saved"), reason.isEmpty() ? "1" : "0");
        QVERIFY2(seen.value("warning").contains(reason), qPrintable(seen.value("warning")));
        QCOMPARE(seen.value("later"), locked ? "1" : "0");
        QVERIFY(setAside(m_path).isEmpty());
        QCOMPARE(SchemeStore(m_path).Names(Report).size(), 20 + reason.isEmpty() + locked);
        if (how == "newer")
            QCOMPARE(runSql(m_path, {QStringLiteral("PRAGMA user_version")}).toInt(), 2);
    }

    // Two hosts saving into one fresh store at once: every save is kept. VELVIP_SCHEME_RUNS
    // sets the number of runs (2 by default).
    void twoProcessesSavingLoseNothing()
    {
        const int runs = qMax(1, qEnvironmentVariableIntValue("VELVIP_SCHEME_RUNS") ?: 2);
        constexpr int Saves = 200;
        for (int run = 0; run < runs; ++run) {
            QFile::remove(m_path);
            QList<QProcess *> hosts;
            for (const char *tag : {"a", "b"})
                hosts << startChild(this, {QStringLiteral("--child-save"), m_path, QLatin1String(tag), QString::number(Saves)});
            for (QProcess *host : hosts) {
                QVERIFY(host->waitForFinished(300000));
                QCOMPARE(host->exitCode(), 0);
                const QByteArray errors = host->readAllStandardError();
                QVERIFY2(errors.isEmpty(), errors.constData());
                QCOMPARE(report(*host).value("saved").toInt(), Saves);
                delete host;
            }
            QCOMPARE(SchemeStore(m_path).Names(Report).size(), 2 * Saves);
            QVERIFY(setAside(m_path).isEmpty());
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first().startsWith(QLatin1String("--child-")))
        return runChild(args);
    tst_SchemeStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_schemestore.moc"
