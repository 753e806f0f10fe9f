#include "CliRun.h"

#include "AtomicFile.h"
#include "SignalCancel.h"
#include "DemoChain.h"
#include "Dictionary.h"
#include "HostKit.h"
#include "Recordset.h"
#include "ReportGrid.h"
#include "ReportPrinter.h"
#include "ReportApplication.h"
#include "ReportSession.h"
#include "ReportStream.h"
#include "ReportWriters.h"
#include "ServerComponents.h"
#include "TextWrap.h"
#include "VelError.h"

#include <QFile>
#include <QTextStream>

#include <QElapsedTimer>

#include <cstdio>
#include <functional>
#include <new>
#include <optional>

#include <unistd.h>

namespace {

void printErr(const QString &text)
{
    QTextStream(stderr) << text << Qt::endl;
}

// Ctrl+C while the output is written: the half-written file is dropped, not renamed.
void stopIfCancelled()
{
    if (SignalCancel::Requested())
        throw Vel::Cancelled();
}

// Standard output, or a file written beside the target and renamed onto it when `write` says the
// output is complete. `restart` empties the file to write it again from its start; standard
// output cannot be taken back (false).
using TextWrite = std::function<bool(Present::ByteSink &sink, const std::function<bool()> &restart)>;
void writeText(const RunOptions &o, const TextWrite &write)
{
    std::optional<AtomicFile> file;
    QFile out;
    if (!o.outPath.isEmpty())
        file.emplace(o.outPath);
    else if (!out.open(stdout, QIODevice::WriteOnly))
        throw VelError(QStringLiteral("无法写到标准输出"));
    bool complete = false;
    {
        Present::ByteSink sink([&](const char *data, size_t size) {
            stopIfCancelled();
            if (file)
                file->Write(data, size);
            else if (out.write(data, qint64(size)) != qint64(size))
                throw VelError(QStringLiteral("无法写到标准输出"));
        });
        complete = write(sink, [&file] {
            if (file)
                file->Restart();
            return bool(file);
        });
    }
    if (complete && file)
        file->Commit();
}

void writeOutput(const RunOptions &o, const ReportOutput &report)
{
    switch (o.format) {
    case RunOptions::Format::Table: {
        const qint64 rows = report.rs ? report.rs->RecordCount() : 0;
        if (rows > Present::kTableRowLimit)
            throw VelError(QStringLiteral("报表有 %1 行，表格格式最多显示 %2 行；请改用 --format csv（或 json、xlsx、pdf）。")
                               .arg(rows).arg(Present::kTableRowLimit));
        // Cut to the terminal's width, or to $COLUMNS when that is given.
        const bool narrow = o.outPath.isEmpty() && (isatty(STDOUT_FILENO) || qEnvironmentVariableIsSet("COLUMNS"));
        const QString text = Present::WriteTable(report, narrow ? TextWrap::TerminalWidth() : 0);
        writeText(o, [&text](Present::ByteSink &sink, const std::function<bool()> &) {
            sink.PutText(text);
            sink.Flush();
            return true;
        });
        return;
    }
    case RunOptions::Format::Csv:
    case RunOptions::Format::Json:
        return;   // written while the rows arrived
    case RunOptions::Format::Xlsx:
        Present::WriteXlsx(report, o.outPath, [](qint64, qint64) { stopIfCancelled(); return true; });
        return;
    case RunOptions::Format::Pdf:
        Present::WritePdf(report, o.outPath, [](int, int) { return !SignalCancel::Requested(); });
        return;
    }
}

// The embedded demo chain, generated on first use: progress on one line rewritten in place
// on a terminal, and one line saying what was made.
QString demoChain()
{
    const bool terminal = isatty(fileno(stderr));
    QElapsedTimer timer;
    timer.start();
    bool generated = false;
    const QString props = ReportSession::DefaultPropsString([&](const QString &step) {
        generated = true;
        if (terminal)
            QTextStream(stderr) << "\r\033[K" << step << Qt::flush;
    });
    if (generated)
        printErr(QStringLiteral("%1已生成演示数据库（%2 的数据，用时 %3 秒）：%4")
                     .arg(terminal ? QStringLiteral("\r\033[K") : QString(), DemoPeriodText())
                     .arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1)
                     .arg(DemoChain::DefaultDatabasePath()));
    return props;
}

int failed(const RunOptions &o, const ReportOutput &report)
{
    if (SignalCancel::Requested())
        return SignalCancel::Finish();
    const QString error = report.Error();
    printErr(error.isEmpty() ? QStringLiteral("报表 %1 运行失败（没有错误说明）。").arg(o.rptId) : error);
    // A filter the data component refuses is a mistake on the command line, like one the checks
    // before the run find.
    return Vel::TakeFailure() == Vel::ErrorKind::BadFilter ? 2 : 1;
}

// CSV and JSON are written while the rows arrive. A file is begun again when the query reruns
// from its first row; standard output cannot take rows back, and such a run fails. False when
// the run failed: `report` says why.
bool streamText(const RunOptions &o, ReportApplication &app, ReportOutput &report, bool &hasData)
{
    const bool json = o.format == RunOptions::Format::Json;
    const Present::CsvOptions csv{o.byteOrderMark};
    writeText(o, [&](Present::ByteSink &sink, const std::function<bool()> &restart) {
        // Nothing here reads a row once it is written.
        ReportStream stream(app, {sink,
                                  [json, csv](Present::ByteSink &s) { return json ? Present::JsonRows(s) : Present::CsvRows(s, csv); },
                                  {}, restart, true});
        report = stream.Run();
        if (report.Ok())
            stream.Finish(report);
        hasData = stream.HasData();
        return report.Ok();
    });
    return report.Ok();
}

int run(const RunOptions &o)
{
    static StderrErrorReporter reporter;
    ErrorReporter::Install(&reporter);
    try {
        ReportSession::RegisterComponents();
    } catch (const VelError &e) {
        printErr(e.Description());
        return 1;
    }
    const ServerDataScope scope(o.scope);
    ReportSession::PublishContext(o.context);
    QString props = o.props;
    if (props.isEmpty())
        props = demoChain();
    ReportSession::SetPropsString(props);

    ReportApplication app;
    app.SetRptID(o.rptId);
    if (o.dialog) {
        app.ShowFilter();
        if (!app.Result()->Value(QStringLiteral("OK")).toBool()) {
            printErr(QStringLiteral("未选择过滤条件，报表没有运行。"));
            return 1;
        }
    } else {
        app.SetFilter(o.filter);
    }
    ReportOutput report;
    bool hasData = false;
    if (o.format == RunOptions::Format::Csv || o.format == RunOptions::Format::Json) {
        if (!streamText(o, app, report, hasData))
            return failed(o, report);
    } else {
        app.GetReportData();
        if (SignalCancel::Requested())
            return SignalCancel::Finish();
        report = ReportSession::Collect(app);
        if (!report.Ok())
            return failed(o, report);
        writeOutput(o, report);
        hasData = ReportGrid(report, false).HasData();
    }
    // On the embedded demo chain, with the days it holds: a period outside them is the usual cause.
    if (!hasData)
        printErr(o.props.isEmpty() ? QStringLiteral("没有符合条件的数据（演示数据库含 %1 的数据）").arg(DemoPeriodText())
                                   : QStringLiteral("没有符合条件的数据"));
    return 0;
}

} // namespace

int RunMain(const QStringList &args)
{
    const ParsedCommandLine parsed = ParseRunArguments(args);
    switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::Help:
        QTextStream(stdout) << parsed.text;
        return 0;
    case ParsedCommandLine::Outcome::UsageError:
        printErr(QStringLiteral("velvip-report: %1\n%2")
                     .arg(parsed.text, parsed.hint.isEmpty() ? QStringLiteral("请用 velvip-report --help 查看用法。") : parsed.hint));
        return 2;
    case ParsedCommandLine::Outcome::Run:
        break;
    }
    try {
        return run(parsed.options);
    } catch (const VelError &e) {
        if (SignalCancel::Requested())
            return SignalCancel::Finish();
        printErr(e.Description());
        return 1;
    } catch (const std::bad_alloc &) {
        throw;   // main says it in one sentence
    } catch (const std::exception &e) {
        printErr(QString::fromUtf8(e.what()));
        return 1;
    }
}
