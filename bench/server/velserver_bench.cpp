// velserver-bench make-demo ARGS...            generate a chain (as velvip-report make-demo)
// velserver-bench report [--warm] CHAIN RPTID [KEY=VALUE ...]
//     runs a report through the component; prints "rows ms bytes cells"; --warm times its second
//     run on the session, as a pooled session of the service runs it (its catalog cache filled)
// velserver-bench sql CHAIN RPTID [KEY=VALUE ...]
//     prints the report's main SELECT with its values inlined, for the sqlite3 shell or psql
// velserver-bench wire CHAIN RPTID [KEY=VALUE ...]
//     runs that SELECT on PostgreSQL through the component's cursor (values bound, binary rows,
//     one result per row) and drops the rows: the server's and libpq's share of a report's time
// CHAIN is a SQLite file or a connection text ("Driver=...;...").
#include "DemoChain.h"
#include "Dictionary.h"
#include "GLData.h"
#include "Database.h"
#include "MakeDemo.h"
#include "ReadSessions.h"
#include "Schema.h"
#include "RowCursor.h"
#include "Recordset.h"
#include "ReportQueries.h"
#include "VelError.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <ctime>

namespace {

DictionaryPtr filterFrom(const QStringList &pairs)
{
    DictionaryPtr filter = Dictionary::Create();
    for (const QString &pair : pairs) {
        const QString key = pair.section(u'=', 0, 0);
        const QString value = pair.section(u'=', 1);
        bool isNumber = false;
        const int n = value.toInt(&isNumber);
        static const QStringList numeric{"GroupBy", "Year", "Month", "SumOnly", "ShowSumOnly", "ShowVipDo"};
        filter->SetValue(key, isNumber && numeric.contains(key) ? QVariant(n) : QVariant(value));
    }
    return filter;
}

// The rows of `q` read and dropped through the component's own cursor (on PostgreSQL its wire
// form, values decoded only when asked for); the row count.
qint64 wire(const Database &db, const SqlQuery &q)
{
    if (db.Driver().Name() != u"PostgreSQL")
        throw VelError(QStringLiteral("wire needs a PostgreSQL chain"));
    const std::unique_ptr<RowCursor> cursor = db.Select(q.sql, q.params);
    qint64 rows = 0;
    while (cursor->Next())
        ++rows;
    return rows;
}

QString inlined(const SqlQuery &q)
{
    QString sql = q.sql;
    for (const QVariant &p : q.params) {
        const int at = sql.indexOf(u'?');
        const QString literal = p.typeId() == QMetaType::QString
            ? u'\'' + p.toString().replace(u'\'', QStringLiteral("''")) + u'\''
            : p.toString();
        sql.replace(at, 1, literal);
    }
    return sql;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fputs("usage: velserver-bench make-demo|report|sql|wire ...\n", stderr);
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == u"make-demo")
        return MakeDemoMain(args);
    const bool warm = command == u"report" && !args.isEmpty() && args.first() == u"--warm";
    if (warm)
        args.removeFirst();
    if (args.size() < 2)
        return 2;
    const QString props = args[0].contains(u'=') ? args[0] : DemoChain::SqliteConnectionText(args[0]);
    const qint32 rptId = args[1].toInt();
    DictionaryPtr filter = filterFrom(args.mid(2));
    try {
        if (command == u"sql" || command == u"wire") {
            const Database &db = ReadSessions::For(props);
            const bool dated = Schema::HasDatedLines(db);
            const SqlQuery q = rptId == 10902 ? ReportQueries::Sales10902(db.Driver(), filter.get(), BranchScope::HeadOffice(), dated)
                                              : ReportQueries::Lines10903(db.Driver(), filter.get(), BranchScope::HeadOffice(), dated);
            if (command == u"wire")
                std::printf("rows=%lld\n", wire(db, q));
            else
                std::printf("%s;\n", inlined(q).toUtf8().constData());
            return 0;
        }
        GLData data(BranchScope::HeadOffice());
        data.SetRptID(rptId);
        ReadSessions::For(props);    // connect outside the timing, as a pooled session would be
        if (warm) {
            GLData first(BranchScope::HeadOffice());
            first.SetRptID(rptId);
            Vel::AsRecordset(first.GetRptData(props, filter));
        }
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpu0 = std::clock();
        const RecordsetPtr rs = Vel::AsRecordset(data.GetRptData(props, filter));
        const qint64 ms = timer.elapsed();
        const qint64 cpuMs = qint64(std::clock() - cpu0) * 1000 / CLOCKS_PER_SEC;
        const qint64 cells = rs->RecordCount() * (rs->FieldCount() - 1);
        if (qEnvironmentVariableIsSet("VELSERVER_BENCH_DUMP")) {
            for (qint64 r = 0; r < rs->RecordCount(); ++r) {
                QStringList cells;
                for (int f = 0; f < rs->FieldCount(); ++f)
                    cells << rs->Value(r, f).toString();
                std::printf("%s\n", cells.join(u'|').toUtf8().constData());
            }
        }
        std::printf("rows=%lld ms=%lld cpu_ms=%lld bytes=%zu cells=%lld bytes_per_cell=%.1f\n", rs->RecordCount(), ms, cpuMs,
                    rs->MemoryBytes(), cells, cells ? double(rs->MemoryBytes()) / double(cells) : 0.0);
    } catch (const VelError &e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
