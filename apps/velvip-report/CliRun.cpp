#include "CliRun.h"

#include "Dictionary.h"
#include "HostKit.h"
#include "ReportSession.h"
#include "ReportWriters.h"
#include "VelError.h"
#include "facade/Application.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

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

int run(const RunOptions &o)
{
    static StderrErrorReporter reporter;
    ErrorReporter::Install(&reporter);
    ReportSession::RegisterComponents();
    ReportSession::PublishContext(o.context);
    QString props = o.props;
    if (props.isEmpty()) {
        props = ReportSession::DefaultPropsString([](const QString &step) { printErr(step); });
    }
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
        printErr(QStringLiteral("velvip-report: %1\n请用 velvip-report --help 查看用法。").arg(parsed.text));
        return 2;
    case ParsedCommandLine::Outcome::Run:
        break;
    }
    try {
        return run(parsed.options);
    } catch (const VelError &e) {
        printErr(e.Description());
        return 1;
    } catch (const std::exception &e) {
        printErr(QString::fromUtf8(e.what()));
        return 1;
    }
}
