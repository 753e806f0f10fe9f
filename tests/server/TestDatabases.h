#pragma once

#include "../plugin/Entries.h"
#include "BranchScope.h"
#include "DemoChain.h"
#include "Recordset.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// A report filter as key/value pairs, in their order.
using Filter = Entries;

// A PostgreSQL server is needed: skipped without one, failed when one is required.
#define REQUIRE_PG(server)                                                                   \
    do {                                                                                     \
        if (!(server).isEmpty())                                                             \
            break;                                                                           \
        if (qEnvironmentVariable("VELVIP_REQUIRE_PG") == u"1")                               \
            QFAIL("VELVIP_REQUIRE_PG=1 but VELVIP_TEST_PG is not set");                      \
        QSKIP("VELVIP_TEST_PG not set");                                                     \
    } while (false)

// The engines a server test runs on: SQLite always, PostgreSQL when VELVIP_TEST_PG names a
// server (each test gets its own database there, dropped at the end).
class TestDatabases
{
public:
    struct Engine {
        QString name;      // "sqlite" or "postgresql"
        QString props;     // connection text of the test's database
    };

    // Creates one empty database per engine and fills it with `fill(props)`. Returns false and
    // sets `error` when PostgreSQL is required (VELVIP_REQUIRE_PG=1) but not usable.
    // `pgOptions` follow CREATE DATABASE (a locale, say).
    bool Create(const QString &tag, const std::function<void(const QString &props)> &fill, QString *error,
                const QString &pgOptions = QString());
    // Closes every session and drops the PostgreSQL databases.
    void Drop();

    const std::vector<Engine> &Engines() const { return m_engines; }
    // Runs report `rptId` on engine `engine` with a filter of the pairs, in their order.
    RecordsetPtr Run(int engine, qint32 rptId, const Filter &filter) const;
    // The same on any database, within a scope.
    static RecordsetPtr RunOn(const QString &props, qint32 rptId, const Filter &filter,
                              const BranchScope &scope = BranchScope::HeadOffice());
    // One QTest row per engine for a data column "engine" (the index into Engines()).
    void AddRows(const QString &suffix = QString()) const;

    // PostgreSQL server connection text from VELVIP_TEST_PG, empty when unset.
    static QString PgServer();
    // Generates a demo chain of the given shape into the database `props` names.
    static void GenerateDemo(const QString &props, DemoOptions options);
    // One line per row with every field, "|"-separated, to compare whole record sets.
    static QStringList RowLines(const RecordsetPtr &rs);
    // Row counts of every table, to prove a database unchanged.
    static QStringList TableCounts(const QString &props);

private:
    std::vector<Engine> m_engines;
    QStringList m_pgDatabases;
    QString m_tempDir;
};
