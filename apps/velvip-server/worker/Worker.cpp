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

using WorkerProtocol::Frame;

namespace {

// A run of this many rows leaves the worker: the next run starts in a fresh process, so the
// memory a big record set took goes back to the system.
constexpr qint64 kRecycleRows = 200000;

int g_out = -1;

[[noreturn]] void serviceGone()
{
    ::_exit(0);
}

void send(Frame type, const QJsonObject &object)
{
    if (!WorkerProtocol::WriteJson(g_out, type, object))
        serviceGone();
}

void refuse(int status, const QString &error)
{
    send(Frame::Header, {{QStringLiteral("status"), status}, {QStringLiteral("error"), error}});
}

// The data component's words for a query stopped by the connection's "Timeout" or "LockTimeout".
bool isTimeout(const QString &error)
{
    return error.contains(QStringLiteral("Timeout）"));
}

// An answer that is one JSON object.
void answer(const QJsonObject &body, qint64 rows)
{
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
    send(Frame::Header, {{QStringLiteral("status"), 200}, {QStringLiteral("rows"), rows}});
    if (!WorkerProtocol::Write(g_out, Frame::Data, json.constData(), quint32(json.size())))
        serviceGone();
    send(Frame::End, {{QStringLiteral("rows"), rows}});
}

// The report of the request, run through the facade (`stream` writes its rows meanwhile);
// nothing when the refusal was sent.
std::optional<ReportOutput> report(ReportApplication &app, const QJsonObject &request, ReportStream *stream = nullptr)
{
    const qint32 rptId = request.value(QStringLiteral("report")).toInt();
    const auto prepared = ServiceFilter::FromJson(rptId, request.value(QStringLiteral("filter")).toString().toUtf8(),
                                                  QDate::fromString(request.value(QStringLiteral("today")).toString(), Qt::ISODate));
    if (!prepared.errors.isEmpty()) {
        refuse(400, prepared.errors.join(QLatin1Char('\n')));
        return std::nullopt;
    }
    app.SetRptID(rptId);
    app.SetFilter(prepared.filter);
    ReportOutput out;
    if (stream) {
        out = stream->Run();
    } else {
        app.GetReportData();
        out = ReportSession::Collect(app);
    }
    if (!out.Ok()) {
        const QString error = out.Error();
        refuse(isTimeout(error) ? 504 : 500,
               error.isEmpty() ? QStringLiteral("报表 %1 运行失败（没有错误说明）。").arg(rptId) : error);
        return std::nullopt;
    }
    return out;
}

// Where a row of the report leads, as the desktop's double click: the detail report and its filter.
void drill(const QJsonObject &request)
{
    ReportApplication app;
    const auto source = report(app, request);
    if (!source)
        return;
    const qint64 row = request.value(QStringLiteral("row")).toInteger(-1);
    auto target = DrillDown::ForRow(*source, row);
    if (!target)
        return refuse(404, QStringLiteral("第 %1 行没有可以打开的明细。").arg(row));
    if (target->rptId == 0)
        return answer({{QStringLiteral("report"), 0}, {QStringLiteral("note"), target->note}}, 0);
    if (!target->branchName.isEmpty()) {
        const QString number = ReportSession::BranchNumber(target->branchName);
        if (number.isEmpty())
            return refuse(404, QStringLiteral("找不到分店“%1”，明细没有打开。").arg(target->branchName));
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

// The frames of a report's answer: the header goes out with the first data, so that a run
// that fails before any data is refused with its own status.
class Frames
{
public:
    void Start(const ReportOutput &report)
    {
        m_head = {{QStringLiteral("status"), 200}, {QStringLiteral("name"), report.Name()}};
    }
    void Data(const char *data, size_t size)
    {
        header();
        if (!WorkerProtocol::Write(g_out, Frame::Data, data, quint32(size)))
            serviceGone();
    }
    // The rows count, the totals line and the period come last: they are known when the run has
    // ended (report 10902 moves its end date while its query runs).
    void End(const ReportOutput &report)
    {
        header();
        const qint64 rows = report.rs ? report.rs->RecordCount() : 0;
        send(Frame::End, {{QStringLiteral("rows"), rows}, {QStringLiteral("totals"), totalsLine(report)},
                          {QStringLiteral("period"), report.PeriodLine()}, {QStringLiteral("last"), rows > kRecycleRows}});
    }

private:
    void header()
    {
        if (!std::exchange(m_sent, true))
            send(Frame::Header, m_head);
    }

    QJsonObject m_head;
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

// A failure after data went out is sent as a refusal all the same: the service then cuts the
// answer short.
qint64 run(const QJsonObject &request)
{
    ReportApplication app;
    Frames frames;
    const QString format = request.value(QStringLiteral("format")).toString();
    if (format == QLatin1String("xlsx") || format == QLatin1String("pdf")) {
        const auto found = report(app, request);
        if (!found)
            return 0;
        frames.Start(*found);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.") + format);
        if (format == QLatin1String("xlsx"))
            Present::WriteXlsx(*found, path);
        else
            Present::WritePdf(*found, path);
        streamFile(path, frames);
        frames.End(*found);
        return found->rs ? found->rs->RecordCount() : 0;
    }
    // CSV and rows-first JSON leave while the rows arrive, JSON when the run has ended
    // (ReportStream). A query that reruns from its first row after data left fails: the service
    // cannot take the data back.
    Present::ByteSink sink([&frames](const char *data, size_t size) { frames.Data(data, size); });
    const bool csv = format == QLatin1String("csv");
    const Present::CsvOptions options{request.value(QStringLiteral("bom")).toBool()};
    const auto layout = request.value(QStringLiteral("layout")).toString() == QLatin1String("rows-first")
                            ? Present::JsonLayout::RowsFirst : Present::JsonLayout::Default;
    ReportStream stream(app, {sink,
                              [csv, options, layout](Present::ByteSink &s) {
                                  return csv ? Present::CsvRows(s, options) : Present::JsonRows(s, layout);
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
BranchScope requestScope(const QJsonObject &request)
{
    const QJsonObject context = request.value(QStringLiteral("context")).toObject();
    if (!context.value(QStringLiteral("ISBranch")).toVariant().toBool())
        return BranchScope::HeadOffice();
    return BranchScope::Branch(context.value(QStringLiteral("BranchNum")).toString());
}

// A page of a lookup list: the data component's list, cut to [offset, offset + limit).
void lookup(const QJsonObject &request)
{
    std::unique_ptr<QObject> owner;
    auto *data = ComponentRegistry::Instance().CreateAs<IServerData>(QLatin1String(Vel::ServerDataProgId), owner);
    const int offset = request.value(QStringLiteral("offset")).toInt();
    const int limit = request.value(QStringLiteral("limit")).toInt();
    const RecordsetPtr rows = data->GetLookupList(ReportSession::PropsString(), request.value(QStringLiteral("type")).toInt(),
                                                  request.value(QStringLiteral("condition")).toString(),
                                                  request.value(QStringLiteral("q")).toString(), offset + limit + 1);
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

    QFile in;
    if (g_out < 0 || !in.open(stdin, QIODevice::ReadOnly))
        return 1;
    for (;;) {
        const QByteArray line = in.readLine(4 * ServiceFilter::MaxBody);
        if (line.isEmpty())
            return 0;
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        qint64 rows = 0;
        try {
            const ServerDataScope scope(requestScope(request));
            ReportSession::PublishContext(request.value(QStringLiteral("context")).toObject().toVariantMap());
            ReportSession::SetPropsString(request.value(QStringLiteral("props")).toString());
            const QString op = request.value(QStringLiteral("op")).toString();
            if (op == QLatin1String("lookup"))
                lookup(request);
            else if (op == QLatin1String("drill"))
                drill(request);
            else
                rows = run(request);
        } catch (const VelError &e) {
            refuse(400, e.Description());
        } catch (const std::bad_alloc &) {
            refuse(500, QStringLiteral("报表进程内存不足，这次请求没有完成。"));
            return 1;
        }
        if (rows > kRecycleRows)
            return 0;
    }
}
