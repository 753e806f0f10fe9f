#include "Worker.h"

#include "Dictionary.h"
#include "DrillDown.h"
#include "Recordset.h"
#include "ReportApplication.h"
#include "ReportGrid.h"
#include "ReportPrinter.h"
#include "ReportSession.h"
#include "ReportStream.h"
#include "ReportWriters.h"
#include "ServiceFilter.h"
#include "SignalCancel.h"
#include "VelError.h"
#include "BranchContext.h"
#include "WorkerProtocol.h"
#include "ComponentRegistry.h"
#include "ServerComponents.h"
#include "ServerData.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include <unistd.h>

using WorkerProtocol::FrameKind;

namespace {

// A run of this many rows leaves the worker: the next run starts in a fresh process, so the
// memory a big record set took goes back to the system.
constexpr qint64 kRecycleRows = 200000;

int g_out = -1;
const WorkerRequest *g_request = nullptr;   // the request being answered

[[noreturn]] void serviceGone()
{
    ::_exit(0);
}

void send(WorkerAnswer answer)
{
    answer.id = g_request->id;
    answer.user = g_request->user;
    if (!WorkerProtocol::WriteFrame(g_out, answer.Encode()))
        serviceGone();
}

void refuse(Vel::ErrorKind kind, const QString &sentence)
{
    send(WorkerAnswer::Failed(*g_request, kind, sentence));
}

void sendHead(const QString &name)
{
    WorkerAnswer a;
    a.kind = FrameKind::Head;
    a.name = name;
    send(std::move(a));
}

void sendData(const char *bytes, size_t size)
{
    WorkerAnswer a;
    a.kind = FrameKind::Data;
    a.data = QByteArray::fromRawData(bytes, qsizetype(size));
    send(std::move(a));
}

void sendEnd(qint64 rows, const QString &totals = {}, const QString &period = {})
{
    WorkerAnswer a;
    a.kind = FrameKind::End;
    a.rows = rows;
    a.totals = totals;
    a.period = period;
    a.last = rows > kRecycleRows;
    send(std::move(a));
}

// An answer that is one JSON object.
void answer(const QJsonObject &body, qint64 rows)
{
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
    sendHead({});
    sendData(json.constData(), size_t(json.size()));
    sendEnd(rows);
}

// Hands the requesting user's scope to the data component: the host context of a user of that
// branch (empty: head office), and the chain's connection text.
void applyScope(const WorkerRequest &request)
{
    ReportSession::PublishContext(BranchContext(request.branch, request.sharedCards));
    ReportSession::SetPropsString(request.props);
}

// The report of the request, run through the facade (`stream` writes its rows meanwhile);
// nothing when the refusal was sent.
std::optional<ReportOutput> report(ReportApplication &app, const WorkerRequest &request, ReportStream *stream = nullptr)
{
    const auto prepared = ServiceFilter::FromJson(request.report, request.filter, request.today);
    if (!prepared.errors.isEmpty()) {
        refuse(Vel::ErrorKind::BadFilter, prepared.errors.join(QLatin1Char('\n')));
        return std::nullopt;
    }
    app.SetRptID(request.report);
    app.SetFilter(prepared.filter);
    Vel::TakeFailure();
    ReportOutput out;
    if (stream) {
        out = stream->Run();
    } else {
        app.GetReportData();
        out = ReportSession::Collect(app);
    }
    if (!out.Ok()) {
        const QString error = out.Error();
        refuse(Vel::TakeFailure(),
               error.isEmpty() ? QStringLiteral("报表 %1 运行失败（没有错误说明）。").arg(request.report) : error);
        return std::nullopt;
    }
    return out;
}

// Where a row of the report leads, as the desktop's double click: the detail report and its filter.
void drill(const WorkerRequest &request)
{
    ReportApplication app;
    const auto source = report(app, request);
    if (!source)
        return;
    const qint64 row = request.row;
    auto target = DrillDown::ForRow(*source, row);
    if (!target)
        return refuse(Vel::ErrorKind::NotFound, QStringLiteral("第 %1 行没有可以打开的明细。").arg(row));
    if (target->rptId == 0)
        return answer({{QStringLiteral("report"), 0}, {QStringLiteral("note"), target->note}}, 0);
    if (!target->branchName.isEmpty()) {
        const QString number = ReportSession::BranchNumber(target->branchName);
        if (number.isEmpty())
            return refuse(Vel::ErrorKind::NotFound, QStringLiteral("找不到分店“%1”，明细没有打开。").arg(target->branchName));
        DrillDown::SetBranch(*target, number);
    }
    answer({{QStringLiteral("report"), target->rptId}, {QStringLiteral("label"), target->label},
            {QStringLiteral("filter"), Present::ToJson(Vel::ToVariant(target->filter))}}, 1);
}

// The grand-total row's numbers as one line: "合计：消费金额 1234.50，次数 12"; empty without one.
QString totalsLine(const ReportOutput &report)
{
    const ReportGrid grid(report, true);
    for (qint64 row = grid.RowCount() - 1; row >= 0; --row) {
        if (grid.KindOf(row) != RowKind::Total)
            continue;
        QStringList parts;
        for (int c = 0; c < grid.ColumnCount(); ++c) {
            const ReportColumn &column = grid.Layout().Columns().at(c);
            const QString text = grid.Text(row, c, FormatStyle::Grid);
            if (IsNumericKind(column.kind) && !text.isEmpty())
                parts << column.FlatCaption() + u' ' + text;
        }
        return parts.isEmpty() ? QString() : QStringLiteral("合计：") + parts.join(QStringLiteral("，"));
    }
    return {};
}

// The frames of a report's answer: the head goes out with the first data, so that a run
// that fails before any data is refused with its own kind.
class Frames
{
public:
    void Start(const ReportOutput &report) { m_name = report.Name(); }
    void Data(const char *bytes, size_t size)
    {
        header();
        sendData(bytes, size);
    }
    // The rows count, the totals line and the period come last: they are known when the run has
    // ended (report 10902 moves its end date while its query runs).
    void End(const ReportOutput &report)
    {
        header();
        sendEnd(report.rs ? report.rs->RecordCount() : 0, totalsLine(report), report.PeriodLine());
    }

private:
    void header()
    {
        if (!std::exchange(m_sent, true))
            sendHead(m_name);
    }

    QString m_name;
    bool m_sent = false;
};

void streamFile(const QString &path, Frames &frames)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw VelError(QStringLiteral("无法读取导出文件"));
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (qint64 n; (n = file.read(buffer.data(), buffer.size())) > 0;)
        frames.Data(buffer.constData(), size_t(n));
}

// The rows in the order of the page's sort by field `request.sort` (one of the report's columns);
// false when the refusal was sent.
bool sortRows(ReportOutput &report, const WorkerRequest &request)
{
    const ReportGrid grid(report, false);
    for (int c = 0; c < grid.ColumnCount(); ++c)
        if (grid.Layout().Columns().at(c).field == request.sort) {
            if (report.SortEnabled())
                report.rowOrder = grid.SortedOrder(c, request.descending);
            return true;
        }
    refuse(Vel::ErrorKind::BadFilter, QStringLiteral("报表 %1 没有可以排序的列“%2”。").arg(request.report).arg(request.sort.left(40)));
    return false;
}

// A failure after data went out is sent as a refusal all the same: the service then cuts the
// answer short.
qint64 run(const WorkerRequest &request)
{
    ReportApplication app;
    Frames frames;
    const QString &format = request.format;
    const bool csv = format == QLatin1String("csv");
    const Present::CsvOptions options{request.bom};
    // A sorted file waits for the last row; so do XLSX and PDF.
    if (format == QLatin1String("xlsx") || format == QLatin1String("pdf") || (csv && !request.sort.isEmpty())) {
        auto found = report(app, request);
        if (!found)
            return 0;
        if (!request.sort.isEmpty() && !sortRows(*found, request))
            return 0;
        frames.Start(*found);
        if (csv) {
            Present::ByteSink sink([&frames](const char *data, size_t size) { frames.Data(data, size); });
            Present::WriteCsv(*found, sink, options);
        } else {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("report.") + format);
            if (format == QLatin1String("xlsx"))
                Present::WriteXlsx(*found, path);
            else
                Present::WritePdf(*found, path);
            streamFile(path, frames);
        }
        frames.End(*found);
        return found->rs ? found->rs->RecordCount() : 0;
    }
    // CSV and rows-first JSON leave while the rows arrive, JSON when the run has ended
    // (ReportStream). A query that reruns from its first row after data left fails: the service
    // cannot take the data back.
    Present::ByteSink sink([&frames](const char *data, size_t size) { frames.Data(data, size); });
    const bool page = format == QLatin1String("ndjson");
    const auto layout = request.rowsFirst ? Present::JsonLayout::RowsFirst : Present::JsonLayout::Default;
    ReportStream stream(app, {sink,
                              [csv, page, options, layout](Present::ByteSink &s) {
                                  return csv ? Present::CsvRows(s, options)
                                       : page ? Present::PageRows(s) : Present::JsonRows(s, layout);
                              },
                              [&frames](const ReportOutput &head) { frames.Start(head); },
                              {}});
    const auto found = report(app, request, &stream);
    if (!found)
        return 0;
    stream.Finish(*found);
    frames.End(*found);
    return found->rs ? found->rs->RecordCount() : 0;
}

// The hand-off to the data component: the scope of the user the request is for (the branch the
// service gave it, head office without one). A branch without a valid number fails the request.
BranchScope requestScope(const WorkerRequest &request)
{
    return request.branch.isEmpty() ? BranchScope::HeadOffice() : BranchScope::Branch(request.branch);
}

// A page of a lookup list: the data component's list, cut to [offset, offset + limit).
void lookup(const WorkerRequest &request)
{
    std::unique_ptr<QObject> owner;
    auto *server = ComponentRegistry::Instance().CreateAs<IServerData>(QLatin1String(Vel::ServerDataProgId), owner);
    const int offset = request.offset;
    const int limit = request.limit;
    const RecordsetPtr rows = server->GetLookupList(ReportSession::PropsString(), request.lookupType, request.condition,
                                                    request.text, offset + limit + 1);
    QJsonArray items;
    const int number = rows->FieldIndex(QStringLiteral("FNumber"));
    const int name = rows->FieldIndex(QStringLiteral("FName"));
    for (qint64 r = offset; r < rows->RecordCount() && r < offset + limit; ++r)
        items.append(QJsonObject{{QStringLiteral("number"), rows->TextAt(r, number)},
                                 {QStringLiteral("name"), rows->TextAt(r, name)}});
    answer({{QStringLiteral("items"), items}, {QStringLiteral("more"), rows->RecordCount() > offset + limit}},
           items.size());
}

} // namespace

int WorkerMain()
{
    // Frames go to the service on what was standard output; anything else printed goes to the
    // service's standard error.
    g_out = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    std::signal(SIGPIPE, SIG_IGN);
    SignalCancel::Install();
    try {
        ReportSession::RegisterComponents();
        // Reports and lookups read only within a request's scope (ServerDataScope below).
        ComponentRegistry::Instance().Unregister(QLatin1String(Vel::ServerDataProgId));
    } catch (const VelError &e) {
        QTextStream(stderr) << QStringLiteral("velvip-server: ") << e.Description() << Qt::endl;
        return 1;
    }

    if (g_out < 0)
        return 1;
    for (;;) {
        // A frame that is too large or no request ends the worker: the service replaces it.
        WorkerProtocol::Fault fault;
        const auto payload = WorkerProtocol::ReadFrame(STDIN_FILENO, WorkerProtocol::MaxRequestFrame, fault);
        if (!payload)
            return fault == WorkerProtocol::Fault::Closed ? 0 : 1;
        const auto request = WorkerRequest::Decode(*payload);
        if (!request)
            return 1;
        g_request = &*request;
        qint64 rows = 0;
        try {
            const ServerDataScope scope(requestScope(*request));
            applyScope(*request);
            if (request->op == WorkerProtocol::Op::Lookup)
                lookup(*request);
            else if (request->op == WorkerProtocol::Op::Drill)
                drill(*request);
            else
                rows = run(*request);
        } catch (const VelError &e) {
            refuse(e.Kind(), e.Description());
        } catch (const std::bad_alloc &) {
            refuse(Vel::ErrorKind::Internal, QStringLiteral("报表进程内存不足，这次请求没有完成。"));
            return 1;
        }
        if (rows > kRecycleRows)
            return 0;
    }
}
