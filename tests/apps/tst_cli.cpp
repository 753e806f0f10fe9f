#include "CliOptions.h"
#include "ConnectionText.h"
#include "Database.h"
#include "DemoChain.h"
#include "DisplayWidth.h"
#include "Dictionary.h"
#include "FilterText.h"
#include "ReportSession.h"
#include "RowCursor.h"
#include "TestDatabases.h"
#include "VelError.h"
#include "../ZoneScope.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/stat.h>
#include <sys/sysmacros.h>

struct ExitCase { QStringList args; int exitCode; QString stderrHas; };

// format: for run, "--format" and what follows it; magic: how a written file begins
struct OutTarget { QString command; QString target; int exitCode; QStringList format = {"csv"}; QByteArray magic = {}; };

// The command-line host as a user runs it, on a tiny generated chain.
class tst_Cli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_db;

    struct Outcome { int exitCode; QByteArray out; QString err; };

    // The embedded demo chain: from the fixed examples' first day to yesterday.
    static QString demoDays()
    {
        return QStringLiteral("2024-01-01 至 %1").arg(QDate::currentDate().addDays(-1).toString(Qt::ISODate));
    }

    using Variables = QMap<QString, QString>;

    QProcessEnvironment environment(const Variables &extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");   // as on a server without a login session
        env.remove("QT_LOGGING_RULES");  // the tool itself must keep platform notes quiet
        for (const auto &[name, value] : extra.asKeyValueRange())
            env.insert(name, value);
        env.insert("HOME", m_dir.path());   // keeps saved filter schemes out of the user's home
        env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        return env;
    }

    Outcome run(const QStringList &args, const Variables &extra = {}, const QString &program = VELVIP_REPORT_BIN)
    {
        QProcess p;
        p.setProcessEnvironment(environment(extra));
        p.start(program, args);
        if (!p.waitForFinished(120000))
            qFatal("%s did not finish", qPrintable(program));
        return {p.exitCode(), p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
    }

    QStringList onChain(const QStringList &args) { return QStringList{"run"} + args + QStringList{"--db", m_db}; }

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    // A tiny chain of 31 days.
    QString tinyChain(const QString &name, const QDate &firstDay)
    {
        DemoOptions o;
        o.outPath = m_dir.filePath(name), o.members = 40, o.items = 30, o.days = 31, o.linesPerDay = 20, o.firstDay = firstDay;
        DemoChain::Generate(o);
        return o.outPath;
    }

    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_db = tinyChain("tiny.sqlite", QDate(2024, 1, 1));
        QVERIFY(QFile::exists(m_db));
    }

    void exitCodes_data()
    {
        QTest::addColumn<ExitCase>("row");
        const QStringList month = {"--period", "2024-01"};
        QTest::newRow("missing_database_file") << ExitCase{QStringList{"run", "10906", "--db", "/nonexistent/chain.sqlite"}, 1, ""};
        // No row's message repeats the password.
        QTest::newRow("failed_login") << ExitCase{QStringList{"run", "10906", "--props", "Driver=PostgreSQL;Host=127.0.0.1;Port=1;"
                                                     "Database=velvip;User=report;Password=Zq8secretPw"}, 1, "127.0.0.1:1"};

        // The filter is checked against the report's keys before the run.
        QTest::newRow("missing_required_keys")
            << ExitCase{onChain({"10902"}), 2,
            "缺少必填的过滤条件：BDate、EDate、GroupBy\n用 velvip-report keys 10902 查看报表 10902 的全部过滤条件。期间可用 --period"};
        QTest::newRow("unknown_key_suggests_nearest")
            << ExitCase{onChain({"10903", "--set", "Bdate=2024-01-01"}), 2, "没有过滤条件“Bdate”，是不是“BDate”？"};
        QTest::newRow("unknown_key_far_from_any") << ExitCase{onChain({"10906", "--set", "Colour=red"}), 2,
                                                  "报表 10906 没有过滤条件“Colour”"};
        QTest::newRow("reversed_dates")
            << ExitCase{onChain({"10903", "--set", "BDate=2024-02-01", "--set", "EDate=2024-01-31"}), 2, "范围颠倒：起始 BDate“2024-02-01 00:00:00”晚于截止 EDate“2024-01-31 23:59:59”"};
        QTest::newRow("grouping_not_a_number") << ExitCase{onChain(QStringList{"10902", "--set", "GroupBy=x"} + month), 2, "GroupBy"};
        QTest::newRow("grouping_outside_its_values")
            << ExitCase{onChain(QStringList{"10904", "--set", "GroupBy=7"} + month), 2, "0 商品、1 会员"};
        // The data component's own refusal of a filter value is a filter error all the same.
        QTest::newRow("name_longer_than_the_data_component_takes")
            << ExitCase{onChain(QStringList{"10902", "--set", "GroupBy=1", "--set", "VipName=" + QString(5000, u'张')} + month), 2, "太长"};
        QTest::newRow("month_outside_1_to_12") << ExitCase{onChain({"10901", "--set", "Year=2024", "--set", "Month=13"}), 2, "1 到 12"};
        // "@{...}": the JSON is written to a file that --filter-json names.
        QTest::newRow("json_text_as_boolean") << ExitCase{onChain({"10906", "--filter-json", R"(@{"BarCode": true})"}), 2, "BarCode"};

        QTest::newRow("period_not_a_month_for_the_ledger") << ExitCase{onChain({"10901", "--period", "2024"}), 2, "一个整月"};
        QTest::newRow("period_for_report_without_dates") << ExitCase{onChain({"10906", "--period", "2024-05"}), 2, "没有日期条件"};
        QTest::newRow("period_not_recognised") << ExitCase{onChain({"10903", "--period", "明天"}), 2, "期间“明天”无法识别"};
        QTest::newRow("period_runs_backwards") << ExitCase{onChain({"10903", "--period", "2024-05..2024-04"}), 2, "晚于"};
        QTest::newRow("period_and_set_of_same_key")
            << ExitCase{onChain({"10903", "--period", "2024-05", "--set", "BDate=2024-05-02"}), 2, "--set BDate 与 --period"};
        // Files that are not regular are refused before they are read: a FIFO would wait for ever.
        QTest::newRow("filter_file_is_a_fifo") << ExitCase{onChain({"10906", "--filter-json", "FIFO"}), 2, "不是普通文件"};
        QTest::newRow("database_is_a_fifo") << ExitCase{QStringList{"run", "10906", "--db", "FIFO"}, 1, "不是普通文件"};
        // "ENV:" sets a variable. Only a dialog needs a display, and one that does not answer
        // (or a platform that aborts without one) refuses the dialog.
        QTest::newRow("dialog_on_invisible_platform") << ExitCase{onChain({"10901", "--dialog"}), 2, "--dialog 需要图形界面"};
        const QStringList staleDisplay{"ENV:QT_QPA_PLATFORM=xcb", "ENV:DISPLAY=:99"};
        QTest::newRow("stale_display_without_dialog") << ExitCase{staleDisplay + onChain({"10906", "--format", "csv"}), 0, ""};
        QTest::newRow("stale_display_with_dialog") << ExitCase{staleDisplay + onChain({"10906", "--dialog"}), 2, "无法连接显示"};
        QTest::newRow("egl_platform_with_dialog") << ExitCase{QStringList{"ENV:QT_QPA_PLATFORM=minimalegl"} + onChain({"10906", "--dialog"}),
                                                  2, "minimalegl"};
        QTest::newRow("keys_of_unknown_report") << ExitCase{QStringList{"keys", "10907"}, 2, "而不是“10907”"};
        QTest::newRow("unknown_report") << ExitCase{onChain({"12345"}), 2, "10901"};
        QTest::newRow("no_report") << ExitCase{QStringList{"run"}, 2, "缺少报表编号"};
        QTest::newRow("unknown_option") << ExitCase{onChain({"10906", "--perod", "2024"}), 2, "未知的选项 --perod（是不是 --period？）"};
        QTest::newRow("option_without_its_value") << ExitCase{QStringList{"run", "10906", "--set"}, 2, "选项 --set 后面缺少值"};
        QTest::newRow("unknown_command") << ExitCase{QStringList{"show"}, 2, "未知命令"};
        QTest::newRow("unknown_format") << ExitCase{onChain({"10906", "--format", "html"}), 2, "html"};
        QTest::newRow("xlsx_needs_out") << ExitCase{onChain({"10906", "--format", "xlsx"}), 2, "--out"};
        QTest::newRow("set_without_equals") << ExitCase{onChain({"10906", "--set", "GroupBy"}), 2, "KEY=VALUE"};
        QTest::newRow("unknown_context_key") << ExitCase{onChain({"10906", "--context", "Foo=1"}), 2, "主程序环境没有“Foo”项"};
        QTest::newRow("title_key_typo") << ExitCase{onChain({"10906", "--set", "BDeptNumbr=1"}), 2, "是不是“BDeptNumber”？"};
        QTest::newRow("empty_result_said") << ExitCase{onChain({"10902", "--period", "2023-01", "--set", "GroupBy=1"}), 0,
                                           "没有符合条件的数据"};
        QTest::newRow("empty_result_said_csv")
            << ExitCase{onChain({"10902", "--period", "2023-01", "--set", "GroupBy=1", "--format", "csv"}), 0, "没有符合条件的数据"};
        QTest::newRow("bad_context_value") << ExitCase{onChain({"10906", "--context", "ISBranch=maybe"}), 2, "ISBranch"};
        QTest::newRow("blank_branch_scope") << ExitCase{onChain({"10906", "--branch-scope", " "}), 2, "分店编号无效"};
        QTest::newRow("props_and_db") << ExitCase{onChain({"10906", "--props", "Driver=SQLite;Database=x"}), 2, "--props"};
        QTest::newRow("missing_filter_file") << ExitCase{onChain({"10906", "--filter-json", "/nonexistent.json"}), 2,
                                            "nonexistent.json"};
        // Generating a chain, by make-demo or on the first run without a database, says one line
        // with the days it holds when stderr is not a terminal.
        QTest::newRow("make_demo_says_its_days")
            << ExitCase{QStringList{"make-demo", "--out", m_dir.filePath("made.sqlite"), "--members", "20", "--items", "20",
                                    "--days", "3", "--lines-per-day", "5", "--start", "2024-01-01"}, 0, "2024-01-01 至 2024-01-03"};
        QTest::newRow("first_run_on_the_demo_chain") << ExitCase{QStringList{"run", "10906"}, 0, demoDays()};
        // The days of the embedded chain where a period misses them; make-demo makes the same days.
        QTest::newRow("empty_result_on_the_demo_chain_says_its_days")
            << ExitCase{QStringList{"run", "10903", "--period", "2023-01"}, 0, "没有符合条件的数据（演示数据库含 " + demoDays()};
        QTest::newRow("make_demo_makes_the_demo_days")
            << ExitCase{QStringList{"make-demo", "--out", m_dir.filePath("default-days.sqlite"), "--members", "20", "--items",
                                    "20", "--lines-per-day", "5"}, 0, demoDays()};
    }

    void exitCodes()
    {
        QFETCH(ExitCase, row);
        auto [args, exitCode, stderrHas] = row;
        Variables env;
        for (; args.first().startsWith("ENV:"); args.removeFirst())
            env.insert(args.first().mid(4).section('=', 0, 0), args.first().section('=', 1));
        const QString fifo = m_dir.filePath("fifo");
        for (QString &arg : args) {
            if (arg.startsWith("@{"))
                arg = writeFile("filter.json", arg.mid(1).toUtf8());
            if (arg == "FIFO" && (QFileInfo::exists(fifo) || ::mkfifo(QFile::encodeName(fifo), 0600) == 0))
                arg = fifo;
        }
        const Outcome o = run(args, env);
        QVERIFY2(o.exitCode == exitCode, qPrintable(QString("exit %1: %2").arg(o.exitCode).arg(o.err)));
        QVERIFY2(o.err.contains(stderrHas), qPrintable(o.err));
        QVERIFY2(!o.err.contains("Zq8secretPw"), qPrintable(o.err));
        QVERIFY2(exitCode != 0 || o.err.count('\n') <= 1, qPrintable(o.err));   // a run that works says one line at most
    }

    // Help lines fit the width, and no word is cut that would fit on a
    // line of its own (a connection text may break after a ";").
    void helpWrapsAtSpacesToTheWidth_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("narrow_60") << 60;
        QTest::newRow("standard_80") << 80;
    }
    void helpWrapsAtSpacesToTheWidth()
    {
        QFETCH(int, width);
        const QString help = QString::fromUtf8(run({"--help"}, {{"COLUMNS", QString::number(width)}}).out);
        for (const QString &line : help.split('\n')) {
            QVERIFY2(Present::DisplayWidth(line) <= width, qPrintable(line));
            QVERIFY2(!line.endsWith(u'（') && !line.endsWith(u'“'), qPrintable(line));
        }
        const Outcome wide = run({"--help"}, {{"COLUMNS", "1000"}});
        QCOMPARE(wide.exitCode, 0);
        const QString unwrapped = QString::fromUtf8(wide.out);
        QVERIFY(unwrapped.contains(demoDays()));
        static const QRegularExpression latinWord(QStringLiteral("[A-Za-z0-9_=.\\-]{4,}"));
        for (const auto &m : latinWord.globalMatch(unwrapped)) {
            if (m.capturedLength() < width - 30)
                QVERIFY2(help.contains(m.captured()), qPrintable(m.captured()));
        }
    }

    // Every command's --out goes through a temporary file beside the target: a device node, a
    // FIFO or a directory is never replaced, a symbolic link writes its file; --format reaches the
    // shared writers (their contents are checked with the writers).
    void outWritesOnlyRegularFiles_data()
    {
        QTest::addColumn<OutTarget>("row");
        for (const char *command : {"run", "make-demo"}) {
            QTest::addRow("%s_device_node_refused", command) << OutTarget{command, "DEV", 1};
            QTest::addRow("%s_fifo_refused", command) << OutTarget{command, "FIFO", 1};
            QTest::addRow("%s_directory_refused", command) << OutTarget{command, "DIR", 1};
            QTest::addRow("%s_symbolic_link_writes_its_file", command) << OutTarget{command, "LINK", 0};
        }
        QTest::newRow("make-demo_new_path") << OutTarget{"make-demo", "NEW", 0, {}, "SQLite format 3"};
        QTest::newRow("run_table") << OutTarget{"run", "NEW", 0, {"table"}, "会员消费表\n"};
        QTest::newRow("run_csv_plain") << OutTarget{"run", "NEW", 0, {"csv"}, "消费分店"};
        QTest::newRow("run_csv_with_bom") << OutTarget{"run", "NEW", 0, {"csv", "--bom"}, "\xEF\xBB\xBF消费分店"};
        QTest::newRow("run_xlsx") << OutTarget{"run", "NEW", 0, {"xlsx"}, "PK"};
        QTest::newRow("run_pdf") << OutTarget{"run", "NEW", 0, {"pdf"}, "%PDF"};
    }

    void outWritesOnlyRegularFiles()
    {
        QFETCH(OutTarget, row);
        const auto &[command, target, exitCode, format, magic] = row;
        QTemporaryDir dir;
        QString path = dir.filePath(target);
        if (target == "DEV") {
            // A node of our own (the null device's numbers) where we may make one.
            if (::mknod(QFile::encodeName(path), S_IFCHR | 0644, makedev(1, 3)) != 0)
                path = "/dev/null";
        } else if (target == "FIFO") {
            QCOMPARE(::mkfifo(QFile::encodeName(path), 0600), 0);
        } else if (target == "DIR") {
            QVERIFY(QDir().mkpath(path));
        } else if (target == "LINK") {
            QFile(dir.filePath("real.csv")).open(QIODevice::WriteOnly);
            QVERIFY(QFile::link(dir.filePath("real.csv"), path));
        }
        const Outcome o = run(command == "run" ? onChain(QStringList{"10902", "--set", "GroupBy=1", "--period", "2024-01", "--out", path,
                                                                     "--format"} + format)
                                               : QStringList{"make-demo", "--members", "5", "--items", "5", "--days", "1",
                                                             "--lines-per-day", "1", "--out", path});
        QVERIFY2(o.exitCode == exitCode, qPrintable(o.err));
        if (!magic.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.read(magic.size()), magic);
            QCOMPARE(o.err.isEmpty(), command == "run");   // no platform notes, no progress
        }
        if (exitCode != 0)
            QVERIFY(QFileInfo(path).exists() && !QFileInfo(path).isFile() && o.err.contains("不是普通文件"));
        if (target == "LINK")
            QVERIFY(QFileInfo(path).isSymLink() && QFileInfo(dir.filePath("real.csv")).size() > 0);
        // Nothing is left beside the target but what the test put there.
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System))
            QVERIFY2(!name.startsWith('.'), qPrintable(name));
    }

    void signalCancels_data()
    {
        QTest::addColumn<QString>("work");
        QTest::addColumn<int>("signal");
        QTest::newRow("locked_read_SIGINT") << "read" << SIGINT;
        QTest::newRow("locked_read_SIGTERM") << "read" << SIGTERM;
        QTest::newRow("pdf_export") << "pdf" << SIGINT;
        QTest::newRow("make_demo") << "make-demo" << SIGINT;
        // Killed outright: an export's file never had a name; the chain's named one is removed
        // by the next write into its folder.
        QTest::newRow("xlsx_export_SIGKILL") << "xlsx" << SIGKILL;
        QTest::newRow("make_demo_SIGKILL") << "make-demo" << SIGKILL;
    }

    // A run that waits (here on another program's write lock), a PDF export or a demo chain
    // being written ends on Ctrl+C or SIGTERM with one line and exit status 130, and leaves no
    // file behind. The signal comes once the output's temporary file is there.
    void signalCancels()
    {
        QFETCH(QString, work);
        QFETCH(int, signal);
        QTemporaryDir out;
        const auto left = [&] { return QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); };
        const QString pages = m_dir.filePath("pages.sqlite");
        if (work != "read" && work != "make-demo" && !QFileInfo::exists(pages)) {
            DemoOptions o;   // a month of a thousand pages
            o.outPath = pages, o.days = 31, o.linesPerDay = 1500;
            DemoChain::Generate(o);
        }
        const QString chain = m_dir.filePath("locked.sqlite");
        QFile::remove(chain);
        QVERIFY(QFile::copy(m_db, chain));
        {
            QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
            writer.setDatabaseName(chain);
            QVERIFY(writer.open());
            QSqlQuery lock(writer);
            QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
            QProcess p;
            p.start(QStringLiteral(VELVIP_REPORT_BIN),
                    work == "read" ? QStringList{"run", "10906", "--db", chain}
                    : work != "make-demo" ? QStringList{"run", "10903", "--db", pages, "--period", "2024-01", "--format", work,
                                                        "--out", out.filePath("r." + work)}
                                    : QStringList{"make-demo", "--out", out.filePath("c.sqlite")});
            QVERIFY(p.waitForStarted());
            // Signalled once it handles the signal (its caught-signals mask in /proc).
            const auto catches = [&] {
                QFile status(QStringLiteral("/proc/%1/status").arg(p.processId()));
                if (!status.open(QIODevice::ReadOnly))
                    return false;
                const QByteArray text = status.readAll();
                const int at = text.indexOf("SigCgt:");
                return at >= 0 && (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) & (1ull << (signal - 1)));
            };
            // Its output is open once a descriptor of it leads into the folder (a file without a
            // name reads "<folder>/#123 (deleted)").
            const auto writing = [&] {
                const QString fds = QStringLiteral("/proc/%1/fd").arg(p.processId());
                for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
                    if (QFile::symLinkTarget(fds + u'/' + fd).startsWith(out.path()))
                        return true;
                return false;
            };
            QTRY_VERIFY_WITH_TIMEOUT((signal == SIGKILL || catches()) && (work == "read" || writing()), 20000);
            ::kill(pid_t(p.processId()), signal);
            QVERIFY(p.waitForFinished(5000));
            lock.exec("ROLLBACK");
            if (signal == SIGKILL) {
                if (work == "make-demo")
                    QCOMPARE(run({"make-demo", "--members", "5", "--items", "5", "--days", "1", "--lines-per-day", "1",
                                  "--out", out.filePath("c.sqlite")}).exitCode, 0);
                QCOMPARE(left(), work == "make-demo" ? QStringList{"c.sqlite"} : QStringList());
            } else {
                QCOMPARE(p.exitStatus(), QProcess::NormalExit);
                QCOMPARE(p.exitCode(), 130);
                QCOMPARE(QString::fromUtf8(p.readAllStandardError()).trimmed(), QStringLiteral("已取消"));
                QCOMPARE(left(), QStringList());
            }
        }
        QSqlDatabase::removeDatabase("writer");
    }

    void postgresCommandsCleanUp_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("upgrade_rolls_back") << "upgrade-schema";
        QTest::newRow("make_demo_leaves_no_chain") << "make-demo";
    }

    // On PostgreSQL, Ctrl+C while the indexes or the ledger are being built stops the server's
    // statement before the command ends, leaves no chain without its ledger and no server notes.
    void postgresCommandsCleanUp()
    {
        QFETCH(QString, command);
        TestDatabases dbs;
        QString error;
        QVERIFY2(dbs.Create("cli", [](const QString &) {}, &error), qPrintable(error));
        if (dbs.Engines().size() < 2)
            QSKIP("VELVIP_TEST_PG is not set");
        const QString props = dbs.Engines()[1].props;
        const QStringList shape{"--days", "200", "--lines-per-day", "1000"};
        if (command == "upgrade-schema")
            QCOMPARE(run(QStringList{"make-demo", "--props", props} + shape).exitCode, 0);
        const auto admin = Database::OpenForWriting(TestDatabases::PgServer());
        const auto building = [&] {
            auto c = admin->Select("SELECT count(*) FROM pg_stat_activity WHERE datname = ? AND state = 'active' AND "
                                   "(query LIKE 'CREATE INDEX%' OR query LIKE 'INSERT INTO card_balance%')",
                                   {ConnectionText::Parse(props).Database()});
            return c->Next() ? c->Int(0) : -1;
        };
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(VELVIP_REPORT_BIN), QStringList{command, "--props", props} + (command == "make-demo" ? shape : QStringList()));
        // Its rows load first: minutes on a machine busy with other suites. Latched: the building
        // statements are short, and QTRY evaluates its condition again after it held.
        bool seen = false;
        const auto seenBuilding = [&] { return seen = seen || building() > 0 || p.state() == QProcess::NotRunning; };
        QTRY_VERIFY_WITH_TIMEOUT(seenBuilding(), 300000);
        QVERIFY2(p.state() == QProcess::Running, "the command ended before it was seen building");
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 130);
        QCOMPARE(building(), 0);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(!err.contains("NOTICE"), qPrintable(err));
        {
            const auto session = Database::OpenForWriting(props);
            auto tables = session->Select("SELECT count(*) FROM pg_class WHERE relname IN ('sale_line', 'card_balance_month')");
            QCOMPARE(tables->Next() ? tables->Int(0) : -1, command == "make-demo" ? 0 : 2);
        }
        // The command's session may take a moment to leave the server.
        QTRY_VERIFY([&] { try { dbs.Drop(); return true; } catch (const VelError &) { return false; } }());
    }

    void fullDiskLeavesNoFile_data()
    {
        QTest::addColumn<QString>("format");
        for (const char *format : {"csv", "json", "xlsx", "pdf"})
            QTest::newRow(format) << format;
    }

    // A tiny memory file system in a private mount namespace stands in for a full disk.
    void fullDiskLeavesNoFile()
    {
        QFETCH(QString, format);
        if (QStandardPaths::findExecutable("unshare").isEmpty())
            QSKIP("unshare is not installed");
        QTemporaryDir mountPoint;
        const QString script = QStringLiteral(
            "mount -t tmpfs -o size=4k tmpfs \"$1\" || exit 77; shift; \"$@\"; rc=$?; ls -A \"$MP\"; exit $rc");
        const Outcome o = run(QStringList{"-Urm", "sh", "-c", script, "sh", mountPoint.path(), VELVIP_REPORT_BIN}
                                  + onChain({"10903", "--set", "BDate=2024-01-01", "--set", "EDate=2024-01-31",
                                             "--format", format, "--out", mountPoint.filePath("lines." + format)}),
                              {{"MP", mountPoint.path()}}, "unshare");
        if (o.exitCode == 77 || (o.exitCode != 0 && o.err.startsWith("unshare")))
            QSKIP("no private mount namespace here");
        QCOMPARE(o.exitCode, 1);
        QVERIFY2(o.err.contains("磁盘空间不足"), qPrintable(o.err));
        QCOMPARE(QString::fromUtf8(o.out).trimmed(), QString());   // ls: nothing left
    }

    // The keys a run used, as its JSON output shows them.
    void periodAndDatesSetTheReportsKeys_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QVariantMap>("filter");
        QTest::newRow("ledger_month") << QStringList{"10901", "--period", "2024-01"}
                                      << QVariantMap{{"Year", 2024}, {"Month", 1}};
        QTest::newRow("ledger_range_of_one_month") << QStringList{"10901", "--period", "2024-02-01..2024-02-29"}
                                                   << QVariantMap{{"Year", 2024}, {"Month", 2}};
        QTest::newRow("lines_month") << QStringList{"10903", "--period", "2024-01"}
                                     << QVariantMap{{"BDate", "2024-01-01 00:00:00"}, {"EDate", "2024-01-31 23:59:59"}};
        QTest::newRow("gifts_day_range") << QStringList{"10904", "--period", "2024-01-01..2024-01-15", "--set", "GroupBy=1"}
                                         << QVariantMap{{"BDate", "2024-01-01 00:00:00"}, {"EDate", "2024-01-15 23:59:59"},
                                                        {"GroupBy", 1}};
        QTest::newRow("topups_year") << QStringList{"10905", "--period", "2024", "--set", "GroupBy=0"}
                                     << QVariantMap{{"BDate", "2024-01-01 00:00:00"}, {"EDate", "2024-12-31 23:59:59"}};
        QTest::newRow("date_only_bounds_cover_whole_days")
            << QStringList{"10903", "--set", "BDate=2024/1/5", "--set", "EDate=2024-01-05"}
            << QVariantMap{{"BDate", "2024-01-05 00:00:00"}, {"EDate", "2024-01-05 23:59:59"}};
        QTest::newRow("minutes_only_end_keeps_its_minute")
            << QStringList{"10905", "--set", "GroupBy=0", "--set", "BDate=2024年1月5日 08:30", "--set", "EDate=20240105"}
            << QVariantMap{{"BDate", "2024-01-05 08:30:00"}, {"EDate", "2024-01-05 23:59:59"}};
        QTest::newRow("set_wins_over_the_filter_file")
            << QStringList{"10904", "--filter-json", writeFile("keys.json", R"({"GroupBy": 1, "SumOnly": 1})"), "--set", "GroupBy=0"}
            << QVariantMap{{"GroupBy", 0}, {"SumOnly", 1}};
        QTest::newRow("full_date_times_unchanged")
            << QStringList{"10904", "--set", "GroupBy=0", "--set", "BDate=2024-01-05 08:30:15", "--set", "EDate=2024-01-06 09:00:00"}
            << QVariantMap{{"BDate", "2024-01-05 08:30:15"}, {"EDate", "2024-01-06 09:00:00"}};
    }
    void periodAndDatesSetTheReportsKeys()
    {
        QFETCH(QStringList, args);
        QFETCH(QVariantMap, filter);
        const Outcome o = run(onChain(args + QStringList{"--format", "json"}));
        QVERIFY2(o.exitCode == 0, qPrintable(o.err));
        const QJsonObject used = QJsonDocument::fromJson(o.out).object()["Filter"].toObject();
        for (auto it = filter.constBegin(); it != filter.constEnd(); ++it)
            QCOMPARE(used[it.key()].toVariant().toString(), it.value().toString());
    }

    // Dates are the chain's wall-clock times: a run in any local zone answers as one in UTC,
    // through a skipped hour, a repeated one and a day that starts at 01:00 locally.
    void datesAreWallClockInEveryZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QStringList>("args");
        const QList<QPair<const char *, QStringList>> cases{
            {"berlin_gap", {"10905", "--set", "BDate=2024-03-31 02:30", "--set", "EDate=2024-03-31 02:59", "--set", "GroupBy=0"}},
            {"day_of_midnight_gap", {"10903", "--period", "2024-03-10"}},
            {"date_only_santiago_gap", {"10904", "--set", "BDate=2024-09-08", "--set", "GroupBy=0"}},
            {"repeated_hour", {"10905", "--set", "BDate=2024-03-09 01:00", "--set", "EDate=2024-11-03 01:59", "--set", "GroupBy=1"}},
        };
        for (const QByteArray &zone : TestZones)
            for (const auto &[name, args] : cases)
                QTest::addRow("%s:%s", zone.constData(), name) << zone << args;
    }
    void datesAreWallClockInEveryZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QStringList, args);
        // March 2024, where the zones skip an hour or a midnight.
        static const QString march = tinyChain("march.sqlite", QDate(2024, 3, 1));
        const QStringList command = QStringList{"run"} + args + QStringList{"--db", march, "--format", "json"};
        const auto inZone = [&](const QString &tz) { return run(command, {{"TZ", tz}}); };
        static QHash<QString, QByteArray> inUtc;
        if (!inUtc.contains(args.join(u' ')))
            inUtc.insert(args.join(u' '), inZone("UTC").out);
        const Outcome got = inZone(QString::fromLatin1(zone));
        QVERIFY2(got.exitCode == 0, qPrintable(got.err));
        QCOMPARE(got.out, inUtc.value(args.join(u' ')));
    }

    void jsonFilterValueTypes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("metaType");   // -1: refused
        QTest::newRow("small_integer_is_qint32") << QByteArray(R"({"v": 12})") << int(QMetaType::Int);
        QTest::newRow("negative_integer_is_qint32") << QByteArray(R"({"v": -2147483648})") << int(QMetaType::Int);
        QTest::newRow("integer_beyond_32_bits_is_double") << QByteArray(R"({"v": 3000000000})") << int(QMetaType::Double);
        QTest::newRow("fraction_is_double") << QByteArray(R"({"v": 1.5})") << int(QMetaType::Double);
        QTest::newRow("boolean") << QByteArray(R"({"v": true})") << int(QMetaType::Bool);
        QTest::newRow("text") << QByteArray(R"({"v": "张"})") << int(QMetaType::QString);
        QTest::newRow("null_is_empty") << QByteArray(R"({"v": null})") << int(QMetaType::UnknownType);
        QTest::newRow("array_refused") << QByteArray("[1, 2]") << -1;
        QTest::newRow("cut_short_refused") << QByteArray("{\"a\": ") << -1;
    }

    void jsonFilterValueTypes()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, metaType);
        if (metaType < 0) {
            QVERIFY_THROWS_EXCEPTION(VelError, FilterFromJson(json));
            return;
        }
        const DictionaryPtr filter = FilterFromJson(json);
        QVERIFY(filter->Lookup("v"));
        QCOMPARE(filter->Value("v").metaType().id(), metaType);
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
