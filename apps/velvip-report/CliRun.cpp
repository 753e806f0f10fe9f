#include "CliRun.h"

#include "DemoChain.h"
#include "Dictionary.h"
#include "HostKit.h"
#include "ReportSession.h"
#include "ReportWriters.h"
#include "VelError.h"
#include "facade/Application.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <QElapsedTimer>

#include <cstdio>
#include <new>

#include <unistd.h>

namespace {

void printErr(const QString &text)
{
    QTextStream(stderr) << text << Qt::endl;
}

void writeOutput(const RunOptions &o, const ReportOutput &report)
{
    QByteArray bytes;
    switch (o.format) {
    case RunOptions::Format::Table: bytes = Present::WriteTable(report).toUtf8(); break;
    case RunOptions::Format::Csv: bytes = Present::WriteCsv(report); break;
    case RunOptions::Format::Json: bytes = Present::WriteJson(report); break;
    case RunOptions::Format::Xlsx:
        Present::WriteXlsx(report, o.outPath);
        return;
    }
    if (o.outPath.isEmpty()) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            throw VelError(QStringLiteral("无法写到标准输出"));
        return;
    }
    QSaveFile file(o.outPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw VelError(QStringLiteral("无法写入文件 %1：%2").arg(o.outPath, file.errorString()));
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

int run(const RunOptions &o)
{
    static StderrErrorReporter reporter;
    ErrorReporter::Install(&reporter);
    ReportSession::RegisterComponents();
    ReportSession::PublishContext(o.context);
    QString props = o.props;
    if (props.isEmpty())
        props = demoChain();
    ReportSession::SetPropsString(props);

    Application app;
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
    app.GetReportData();
    const ReportOutput report = ReportSession::Collect(app);
    if (!report.Ok()) {
        const QString error = report.Error();
        printErr(error.isEmpty() ? QStringLiteral("报表 %1 运行失败（没有错误说明）。").arg(o.rptId) : error);
        return 1;
    }
    writeOutput(o, report);
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
        printErr(e.Description());
        return 1;
    } catch (const std::bad_alloc &) {
        throw;   // main says it in one sentence
    } catch (const std::exception &e) {
        printErr(QString::fromUtf8(e.what()));
        return 1;
    }
}
