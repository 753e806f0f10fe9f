// Time from GetReportData's return to the first painted screen of the report view, and of a
// sort on the sale amount, for a member sale line report of about 200,000 rows on a
// generated chain; then the time the PDF export takes for its first pages.
//   bench_host_first_screen [--db FILE] [--rows N] [--keep FILE] [--pdf-pages N]
// Without --db a chain is generated into a temporary folder (days x lines per day chosen for
// N member lines; kept when --keep is given). Peak memory: run it under /usr/bin/time -v
// with --db, so that the generation does not count.

#include "DemoChain.h"
#include "Dictionary.h"
#include "FrozenTableView.h"
#include "Recordset.h"
#include "ReportApplication.h"
#include "ReportSession.h"
#include "ReportTableModel.h"
#include "ReportView.h"
#include "VelError.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <ctime>

namespace {

// CPU time of the process: on a shared machine the wall clock carries other people's load.
qint64 cpuMs()
{
    return qint64(std::clock()) * 1000 / CLOCKS_PER_SEC;
}

class PaintWatcher : public QObject
{
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption dbOption("db", "Chain to read (SQLite file).", "FILE");
    const QCommandLineOption rowsOption("rows", "Member sale lines wanted (default 200000).", "N", "200000");
    const QCommandLineOption keepOption("keep", "Keep the generated chain in this file.", "FILE");
    const QCommandLineOption pdfOption("pdf-pages", "PDF pages to time (default 1000, 0 for none).", "N", "1000");
    parser.addOptions({dbOption, rowsOption, keepOption, pdfOption});
    parser.process(app);
    QTextStream out(stdout);

    QTemporaryDir tmp;
    QString db = parser.value(dbOption);
    const int wanted = parser.value(rowsOption).toInt();
    const int days = 31;
    if (db.isEmpty()) {
        db = parser.isSet(keepOption) ? parser.value(keepOption) : tmp.filePath("bench.sqlite");
        DemoOptions o;
        o.outPath = db;
        o.days = days;
        o.members = 20000;
        o.items = 3000;
        // About three lines in five are on member bills; the surplus keeps the month above the
        // wanted count.
        o.linesPerDay = int(wanted * 1.7 / days) + 1;
        QElapsedTimer gen;
        gen.start();
        if (!QFile::exists(db))
            DemoChain::Generate(o);
        out << "chain: " << o.linesPerDay * days << " lines generated in " << gen.elapsed() << " ms\n";
    }

    ReportSession::RegisterComponents();
    ReportSession::PublishContext(ReportSession::DefaultContext());
    ReportSession::SetPropsString(DemoChain::SqliteConnectionText(db));

    ReportApplication rpt;
    rpt.SetRptID(10903);
    DictionaryPtr filter = Dictionary::Create();
    filter->SetValue("BDate", QStringLiteral("2024-01-01 00:00:00"));
    filter->SetValue("EDate", QStringLiteral("2024-01-31 23:59:59"));
    rpt.SetFilter(filter);
    QElapsedTimer query;
    query.start();
    rpt.GetReportData();
    const qint64 queryMs = query.elapsed();
    const ReportOutput report = ReportSession::Collect(rpt);
    if (!report.Ok()) {
        QTextStream(stderr) << "report failed: " << report.Error() << "\n";
        return 1;
    }

    // From here: what the host does with the rows until the user sees them.
    QElapsedTimer firstScreen;
    firstScreen.start();
    qint64 cpu = cpuMs();
    ReportView view;
    view.resize(1280, 760);
    PaintWatcher watcher;
    view.Table()->viewport()->installEventFilter(&watcher);
    view.SetReport(report);
    view.show();
    while (!watcher.painted)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    const qint64 screenMs = firstScreen.elapsed();
    const qint64 screenCpu = cpuMs() - cpu;

    // A click on the sale amount's header: sorted and painted again.
    const int amountColumn = report.rs ? [&] {
        const ColumnLayout &layout = view.Model()->Layout();
        for (int c = 0; c < layout.Count(); ++c)
            if (layout.Columns().at(c).field == QLatin1String("FSaleAmount"))
                return c;
        return 0;
    }() : 0;
    watcher.painted = false;
    QElapsedTimer sortTimer;
    sortTimer.start();
    cpu = cpuMs();
    view.Table()->sortByColumn(amountColumn, Qt::DescendingOrder);
    view.Table()->viewport()->update();
    while (!watcher.painted)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    const qint64 sortMs = sortTimer.elapsed();
    const qint64 sortCpu = cpuMs() - cpu;

    out << "rows: " << report.rs->RecordCount() << "\n";
    out << "GetReportData: " << queryMs << " ms\n";
    out << "first painted screen after GetReportData returned: " << screenMs << " ms (cpu " << screenCpu << " ms)\n";
    out << "sorted by sale amount and painted: " << sortMs << " ms (cpu " << sortCpu << " ms)\n";
    out.flush();

    // The export as the desktop runs it, stopped once the wanted pages are written.
    const int pdfPages = parser.value(pdfOption).toInt();
    if (pdfPages > 0) {
        int pages = 0;
        int total = 0;
        QElapsedTimer pdfTimer;
        pdfTimer.start();
        cpu = cpuMs();
        try {
            view.ExportPdf(tmp.filePath("bench.pdf"), [&](int done, int all) {
                pages = done;
                total = all;
                return done < pdfPages;
            });
        } catch (const VelError &) {
            // stopped at the wanted page count
        }
        const qint64 pdfMs = pdfTimer.elapsed();
        const qint64 pdfCpu = cpuMs() - cpu;
        out << "PDF: " << pages << " of " << total << " pages in " << pdfMs << " ms, cpu " << pdfCpu << " ms ("
            << (pages > 0 ? pdfMs * 1000 / pages : 0) << " / cpu " << (pages > 0 ? pdfCpu * 1000 / pages : 0)
            << " ms per 1,000 pages)\n";
    }
    return 0;
}
