// Connection text parsing, session errors and the read-only rule.
#include "ConnectionText.h"
#include "Database.h"
#include "Dictionary.h"
#include "GLData.h"
#include "Schema.h"
#include "TestDatabases.h"
#include "VelError.h"

#include <QTemporaryDir>
#include <QTest>

class tst_ServerConnection : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void errors_data();
    void errors();
    void pgLogin();
    void readOnlySession();
    void cleanupTestCase() { Database::CloseAll(); }
};

void tst_ServerConnection::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "Driver=SQLite;Database=/tmp/a.sqlite" << "database" << "/tmp/a.sqlite";
    QTest::newRow("keys_any_case") << "DRIVER=SQLite;dAtAbAsE=/x" << "Database" << "/x";
    QTest::newRow("spaces_trimmed") << " Driver = PostgreSQL ; Host = 10.0.0.1 " << "host" << "10.0.0.1";
    QTest::newRow("quoted_semicolon") << "Password=\"a;b=c\";User=u" << "password" << "a;b=c";
    QTest::newRow("quoted_quote") << "Password=\"say \"\"hi\"\"\";User=u" << "password" << "say \"hi\"";
    QTest::newRow("quoted_keeps_spaces") << "Password=\" x \"" << "password" << " x ";
    QTest::newRow("unknown_ignored") << "Foo=1;User=u" << "user" << "u";
    QTest::newRow("missing") << "Driver=SQLite" << "database" << "";
    QTest::newRow("trailing_semicolons") << "User=u;;;" << "user" << "u";
}

void tst_ServerConnection::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(ConnectionText::Parse(text).Value(key), value);
}

void tst_ServerConnection::errors_data()
{
    QTemporaryDir dir;
    QTest::addColumn<QString>("props");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no_driver") << "Database=/tmp/x;Password=Secret9" << "Driver";
    QTest::newRow("unknown_driver") << "Driver=Oracle;Database=x;Password=Secret9" << "Oracle";
    QTest::newRow("no_database") << "Driver=SQLite;Password=Secret9" << "Database";
    QTest::newRow("missing_file") << "Driver=SQLite;Database=/nonexistent/Secret9/chain.sqlite;Password=Secret9"
                                  << "数据库文件不存在";
    QTest::newRow("unreachable") << "Driver=PostgreSQL;Host=127.0.0.1;Port=1;Database=d;User=u;Password=Secret9"
                                 << "无法连接数据库服务器 127.0.0.1:1";
}

void tst_ServerConnection::errors()
{
    QFETCH(QString, props);
    QFETCH(QString, expected);
    GLData data;
    data.SetRptID(10906);
    DictionaryPtr filter = Dictionary::Create();
    try {
        data.GetRptData(props, filter);
        QFAIL("no error");
    } catch (const VelError &e) {
        QVERIFY2(e.Description().contains(expected), qPrintable(e.Description()));
        QVERIFY2(!e.Description().contains(QStringLiteral("Secret9")), qPrintable(e.Description()));
    }
}

void tst_ServerConnection::pgLogin()
{
    const QString server = TestDatabases::PgServer();
    if (server.isEmpty()) {
        if (qEnvironmentVariable("VELVIP_REQUIRE_PG") == u"1")
            QFAIL("VELVIP_REQUIRE_PG=1 but VELVIP_TEST_PG is not set");
        QSKIP("VELVIP_TEST_PG not set");
    }
    const ConnectionText ct = ConnectionText::Parse(server);
    const QString wrong = QStringLiteral("Wr0ng;Pass=\"word");
    const QString props = ConnectionText::Make({{QStringLiteral("Driver"), QStringLiteral("PostgreSQL")},
                                                {QStringLiteral("Host"), ct.Host()},
                                                {QStringLiteral("Port"), QString::number(ct.Port(5432))},
                                                {QStringLiteral("Database"), ct.Database()},
                                                {QStringLiteral("User"), ct.User()},
                                                {QStringLiteral("Password"), wrong}});
    try {
        Database::ForReports(props);
        QFAIL("login accepted");
    } catch (const VelError &e) {
        QVERIFY2(e.Description().contains(QStringLiteral("拒绝")), qPrintable(e.Description()));
        QVERIFY(!e.Description().contains(wrong));
    }
    // The right password works and the session is pooled.
    Database &a = Database::ForReports(server);
    QCOMPARE(&Database::ForReports(server), &a);
}

void tst_ServerConnection::readOnlySession()
{
    TestDatabases dbs;
    QString error;
    QVERIFY2(dbs.Create(QStringLiteral("ro"), [](const QString &props) {
        auto db = Database::OpenForWriting(props);
        for (const QString &ddl : Schema::TableStatements(db->Driver()))
            db->Exec(ddl);
    }, &error), qPrintable(error));
    for (const auto &engine : dbs.Engines()) {
        const Database &db = Database::ForReports(engine.props);
        try {
            db.Exec(QStringLiteral("INSERT INTO unit VALUES (1, '01', 'x')"));
            QFAIL(qPrintable(engine.name + QStringLiteral(": report session wrote")));
        } catch (const VelError &) {
        }
    }
    dbs.Drop();
}

QTEST_GUILESS_MAIN(tst_ServerConnection)
#include "tst_serverconnection.moc"
