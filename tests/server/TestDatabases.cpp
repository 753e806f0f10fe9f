#include "TestDatabases.h"

#include "ConnectionText.h"
#include "Database.h"
#include "GLData.h"
#include "RowCursor.h"
#include "Schema.h"
#include "VelError.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

RecordsetPtr TestDatabases::Run(int engine, qint32 rptId, const Filter &filter) const
{
    return RunOn(m_engines[size_t(engine)].props, rptId, filter);
}

RecordsetPtr TestDatabases::RunOn(const QString &props, qint32 rptId, const Filter &filter, const BranchScope &scope)
{
    DictionaryPtr f = MakeDictionary(filter);
    GLData data(scope);
    data.SetRptID(rptId);
    return Vel::AsRecordset(data.GetRptData(props, f));
}

QString TestDatabases::PgServer()
{
    return qEnvironmentVariable("VELVIP_TEST_PG");
}

bool TestDatabases::Create(const QString &tag, const std::function<void(const QString &)> &fill, QString *error,
                           const QString &pgOptions)
{
    static QTemporaryDir dir;
    const QString file = dir.filePath(tag + QStringLiteral(".sqlite"));
    const QString sqlite = ConnectionText::Make({{QStringLiteral("Driver"), QStringLiteral("SQLite")},
                                                 {QStringLiteral("Database"), file}});
    fill(sqlite);
    m_engines.push_back({QStringLiteral("sqlite"), sqlite});

    const QString server = PgServer();
    const bool required = qEnvironmentVariable("VELVIP_REQUIRE_PG") == u"1";
    if (server.isEmpty()) {
        if (required) {
            *error = QStringLiteral("VELVIP_REQUIRE_PG=1 but VELVIP_TEST_PG is not set");
            return false;
        }
        return true;
    }
    const QString name = QStringLiteral("velvip_%1_%2_%3").arg(tag).arg(QCoreApplication::applicationPid())
                             .arg(QDateTime::currentMSecsSinceEpoch());
    try {
        auto admin = Database::OpenForWriting(server);
        admin->Exec(QStringLiteral("CREATE DATABASE %1 %2").arg(name, pgOptions));
    } catch (const VelError &e) {
        if (required) {
            *error = QStringLiteral("PostgreSQL is required but not usable: %1").arg(e.Description());
            return false;
        }
        qWarning("PostgreSQL skipped: %s", e.what());
        return true;
    }
    m_pgDatabases << name;
    const ConnectionText ct = ConnectionText::Parse(server);
    const QString props = ConnectionText::Make({{QStringLiteral("Driver"), QStringLiteral("PostgreSQL")},
                                                {QStringLiteral("Host"), ct.Host()},
                                                {QStringLiteral("Port"), QString::number(ct.Port(5432))},
                                                {QStringLiteral("Database"), name},
                                                {QStringLiteral("User"), ct.User()},
                                                {QStringLiteral("Password"), ct.Password()}});
    fill(props);
    m_engines.push_back({QStringLiteral("postgresql"), props});
    return true;
}

void TestDatabases::Drop()
{
    Database::CloseAll();
    if (m_pgDatabases.isEmpty())
        return;
    auto admin = Database::OpenForWriting(PgServer());
    for (const QString &name : std::as_const(m_pgDatabases))
        admin->Exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name));
    m_pgDatabases.clear();
}

void TestDatabases::AddRows(const QString &suffix) const
{
    QTest::addColumn<int>("engine");
    for (size_t i = 0; i < m_engines.size(); ++i)
        QTest::newRow(qPrintable(m_engines[i].name + suffix)) << int(i);
}

void TestDatabases::GenerateDemo(const QString &props, DemoOptions options)
{
    const ConnectionText ct = ConnectionText::Parse(props);
    if (ct.Driver() == ConnectionText::Engine::SQLite)
        options.outPath = ct.Database();
    else
        options.connectionText = props;
    DemoChain::Generate(options);
}

QStringList TestDatabases::RowLines(const RecordsetPtr &rs)
{
    QStringList lines;
    for (qint64 r = 0; r < rs->RecordCount(); ++r) {
        QStringList cells;
        for (int f = 0; f < rs->FieldCount(); ++f)
            cells << rs->Value(r, f).toString();
        lines << cells.join(u'|');
    }
    return lines;
}

QStringList TestDatabases::TableCounts(const QString &props)
{
    auto db = Database::OpenForWriting(props);
    QStringList counts;
    for (const QString &table : Schema::TableNames()) {
        auto c = db->Select(QStringLiteral("SELECT count(*) FROM %1").arg(table));
        counts << table + u'=' + (c->Next() ? QString::number(c->Int(0)) : QStringLiteral("?"));
    }
    return counts;
}
