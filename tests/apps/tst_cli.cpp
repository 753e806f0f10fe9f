#include "CliOptions.h"
#include "DemoChain.h"
#include "Dictionary.h"
#include "ReportSession.h"
#include "VelError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The command-line host as a user runs it, on a tiny generated chain.
class tst_Cli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_db;

    struct Outcome { int exitCode; QByteArray out; QString err; };

    Outcome run(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());   // keeps saved filter schemes out of the user's home
        env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VELVIP_REPORT_BIN), args);
        if (!p.waitForFinished(120000))
            qFatal("velvip-report did not finish");
        return {p.exitCode(), p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
    }

    QStringList onChain(const QStringList &args) { return QStringList{"run"} + args + QStringList{"--db", m_db}; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath("tiny.sqlite");
        DemoOptions o;
        o.outPath = m_db;
        o.members = 40;
        o.items = 30;
        o.days = 31;
        o.linesPerDay = 20;
        DemoChain::Generate(o);
        QVERIFY(QFile::exists(m_db));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas");
        const QStringList month = {"--set", "BDate=2024-01-01 00:00:00", "--set", "EDate=2024-01-31 23:59:59"};
        QTest::newRow("report_fails_unknown_grouping")
            << onChain(QStringList{"10904", "--set", "GroupBy=7"} + month) << 1 << "";
        QTest::newRow("missing_database_file")
            << QStringList{"run", "10906", "--db", "/nonexistent/chain.sqlite"} << 1 << "";
        QTest::newRow("unknown_report") << onChain({"12345"}) << 2 << "10901";
        QTest::newRow("no_report") << QStringList{"run"} << 2 << "缺少报表编号";
        QTest::newRow("unknown_command") << QStringList{"show"} << 2 << "未知命令";
        QTest::newRow("unknown_format") << onChain({"10906", "--format", "html"}) << 2 << "html";
        QTest::newRow("xlsx_needs_out") << onChain({"10906", "--format", "xlsx"}) << 2 << "--out";
        QTest::newRow("set_without_equals") << onChain({"10906", "--set", "GroupBy"}) << 2 << "KEY=VALUE";
        QTest::newRow("bad_context_value") << onChain({"10906", "--context", "ISBranch=maybe"}) << 2 << "ISBranch";
        QTest::newRow("props_and_db") << onChain({"10906", "--props", "Driver=SQLite;Database=x"}) << 2 << "--props";
        QTest::newRow("missing_filter_file") << onChain({"10906", "--filter-json", "/nonexistent.json"}) << 2
                                            << "nonexistent.json";
    }

    void exitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        const Outcome o = run(args);
        QVERIFY2(o.exitCode == exitCode, qPrintable(QString("exit %1: %2").arg(o.exitCode).arg(o.err)));
        QVERIFY2(o.err.contains(stderrHas), qPrintable(o.err));
    }

    void failedLoginKeepsPasswordOutOfMessages()
    {
        const Outcome o = run({"run", "10906", "--props",
                               "Driver=PostgreSQL;Host=127.0.0.1;Port=1;Database=velvip;User=report;Password=Zq8secretPw"});
        QCOMPARE(o.exitCode, 1);
        QVERIFY(!o.err.trimmed().isEmpty());
        QVERIFY2(!o.err.contains("Zq8secretPw"), qPrintable(o.err));
    }

    void helpExplainsEveryOption()
    {
        const Outcome o = run({"--help"});
        QCOMPARE(o.exitCode, 0);
        const QString help = QString::fromUtf8(o.out);
        for (const char *option : {"--props", "--db", "--set", "--filter-json", "--context", "--format", "--out",
                                   "--dialog", "make-demo", "示例"})
            QVERIFY2(help.contains(QString::fromUtf8(option)), option);
    }

    void tableShowsTitleBlockAndTotals()
    {
        const Outcome o = run(onChain({"10902", "--set", "GroupBy=1", "--set", "BDate=2024-01-01 00:00:00", "--set",
                                       "EDate=2024-01-31 23:59:59", "--context", "ISBranch=0", "--context",
                                       "SVCardShareType=1"}));
        QVERIFY2(o.exitCode == 0, qPrintable(o.err));
        const QString text = QString::fromUtf8(o.out);
        QVERIFY(text.startsWith("会员消费表\n"));
        QVERIFY(text.contains("日期：2024-01-01 00:00:00 至 "));
        QVERIFY(text.contains("| 消费分店"));
        QVERIFY(text.contains("小计"));
        QVERIFY(text.contains("合计"));
        QVERIFY(!text.contains("会员手机号"));   // hidden column
    }

    void csvAndJsonAgreeOnRows()
    {
        const QStringList args = {"10905", "--set", "GroupBy=0", "--set", "BDate=2024-01-01 00:00:00", "--set",
                                  "EDate=2024-01-31 23:59:59"};
        const Outcome csv = run(onChain(args + QStringList{"--format", "csv"}));
        QVERIFY2(csv.exitCode == 0, qPrintable(csv.err));
        const QList<QByteArray> lines = csv.out.trimmed().split('\n');
        QCOMPARE(lines.first().trimmed(), QByteArray("会员卡号,会员姓名,卡类别,充值金额,实付金额,日期,操作员/收银员,备注"));

        const QString jsonPath = m_dir.filePath("topups.json");
        const Outcome json = run(onChain(args + QStringList{"--format", "json", "--out", jsonPath}));
        QVERIFY2(json.exitCode == 0, qPrintable(json.err));
        QFile f(jsonPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
        QCOMPARE(root["Filter"]["GroupBy"].toString(), "0");   // --set values are text
        const QJsonArray fields = root["Fields"].toArray();
        QCOMPARE(root["Rows"].toArray().size(), lines.size() - 1);
        QVERIFY(root["Rows"].toArray().size() > 1);
        const int amount = fields.toVariantList().indexOf("FPlusAmt");
        QVERIFY(root["Rows"][0][amount].isDouble());
    }

    void filterJsonKeepsTypes()
    {
        const QString path = m_dir.filePath("filter.json");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"GroupBy": 1, "SumOnly": 1, "BDate": "2024-01-01 00:00:00", "EDate": "2024-01-31 23:59:59"})");
        f.close();
        const Outcome o = run(onChain({"10904", "--filter-json", path, "--set", "GroupBy=0", "--format", "json"}));
        QVERIFY2(o.exitCode == 0, qPrintable(o.err));
        const QJsonObject root = QJsonDocument::fromJson(o.out).object();
        QCOMPARE(root["Filter"]["SumOnly"].toInt(), 1);
        QVERIFY(root["Filter"]["SumOnly"].isDouble());
        QCOMPARE(root["Filter"]["GroupBy"].toString(), "0");   // --set wins over the file
        for (const QJsonValue &row : root["Rows"].toArray())   // "SumOnly" keeps summary rows only
            QVERIFY(row[root["Fields"].toArray().toVariantList().indexOf("FRowKind")].toInt() > 0);
    }

    void jsonFilterValueTypes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("metaType");
        QTest::newRow("small_integer_is_qint32") << QByteArray(R"({"v": 12})") << int(QMetaType::Int);
        QTest::newRow("negative_integer_is_qint32") << QByteArray(R"({"v": -2147483648})") << int(QMetaType::Int);
        QTest::newRow("integer_beyond_32_bits_is_double") << QByteArray(R"({"v": 3000000000})") << int(QMetaType::Double);
        QTest::newRow("fraction_is_double") << QByteArray(R"({"v": 1.5})") << int(QMetaType::Double);
        QTest::newRow("boolean") << QByteArray(R"({"v": true})") << int(QMetaType::Bool);
        QTest::newRow("text") << QByteArray(R"({"v": "张"})") << int(QMetaType::QString);
        QTest::newRow("null_is_empty") << QByteArray(R"({"v": null})") << int(QMetaType::UnknownType);
    }

    void jsonFilterValueTypes()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, metaType);
        const DictionaryPtr filter = FilterFromJson(json);
        QVERIFY(filter->Lookup("v"));
        QCOMPARE(filter->Value("v").metaType().id(), metaType);
    }

    void jsonFilterRejectsNonObjects()
    {
        QVERIFY_THROWS_EXCEPTION(VelError, FilterFromJson("[1, 2]"));
        QVERIFY_THROWS_EXCEPTION(VelError, FilterFromJson("{\"a\": "));
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
