// The report routes: list, keys, run, lookups, periods.
#include "Service.h"

#include "Compression.h"
#include "Dictionary.h"
#include "FilterDates.h"
#include "ReportKeys.h"
#include "ReportSession.h"
#include "ServerData.h"
#include "ServiceFilter.h"
#include "VelError.h"
#include "WallClock.h"
#include "WorkerProtocol.h"

#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <httplib.h>

#include <cerrno>
#include <utility>

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

// The report number of a route's first capture; 0 for one the service does not have.
qint32 reportOf(const httplib::Request &req)
{
    bool ok = false;
    const qint32 id = QString::fromStdString(req.matches[1]).toInt(&ok);
    return ok && ReportSession::ReportIds().contains(id) ? id : 0;
}

QJsonObject keyJson(const ReportKeys::Key &key)
{
    QJsonObject o{{QStringLiteral("name"), key.name},
                  {QStringLiteral("type"), ReportKeys::KindText(key.kind)},
                  {QStringLiteral("required"), key.required},
                  {QStringLiteral("meaning"), ReportKeys::Description(key)},
                  {QStringLiteral("example"), key.example}};
    QJsonArray values;
    for (const ReportKeys::Choice &c : key.choices)
        values.append(QJsonObject{{QStringLiteral("value"), c.value}, {QStringLiteral("meaning"), c.meaning},
                                  {QStringLiteral("note"), c.note}});
    if (!values.isEmpty())
        o.insert(QStringLiteral("values"), values);
    return o;
}

// The filter part of a download's name: the keys the request set besides the period, by name,
// as "BBranchNum-002_GroupBy-1"; characters file systems refuse become "-".
QString filterName(const QByteArray &body)
{
    static const QStringList period{QStringLiteral("period"), QStringLiteral("BDate"), QStringLiteral("EDate"),
                                    QStringLiteral("Year"), QStringLiteral("Month")};
    const QJsonObject given = QJsonDocument::fromJson(body).object();
    QStringList parts;
    for (auto it = given.begin(); it != given.end(); ++it) {
        const QString value = it.value().isString() ? it.value().toString().trimmed() : it.value().toVariant().toString();
        if (!period.contains(it.key()) && !value.isEmpty())
            parts << it.key() + u'-' + value;
    }
    QString name = parts.join(u'_').left(80);
    for (QChar &c : name)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>| ").contains(c))
            c = u'-';
    return name;
}

// RFC 6266 with an ASCII fallback and the UTF-8 name of RFC 5987.
std::string contentDisposition(const QString &fileName, const QString &asciiName)
{
    QString ascii;
    for (QChar c : asciiName)
        ascii += c.unicode() < 0x80 && c != u'"' && c != u'\\' ? c : QChar(u'_');
    return "attachment; filename=\"" + ascii.toStdString() + "\"; filename*=UTF-8''"
        + QUrl::toPercentEncoding(fileName).toStdString();
}

struct ListKind { const char *name; qint32 type; const char *condition; };
const ListKind lookupKinds[] = {
    {"customers", 1, ""}, {"items", 4, ""}, {"branches", 5, FilterText::BranchHeadOnly}, {"pos", 47, ""},
    {"cashiers", 49, ""}, {"cards", 50, FilterText::CardNotDeleted}, {"card-types", 51, ""}, {"brands", 713, ""},
};

// The accepted socket of a request, found by its peer address among the process's descriptors
// (the HTTP library does not hand it to the route); -1 when not found.
int clientSocket(const httplib::Request &req)
{
    QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry : fds.entryList(QDir::Files | QDir::System)) {
        const int fd = entry.toInt();
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) != 0)
            continue;
        char host[INET6_ADDRSTRLEN] = {};
        int port = -1;
        if (peer.ss_family == AF_INET) {
            const auto *in = reinterpret_cast<const sockaddr_in *>(&peer);
            ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
            port = ntohs(in->sin_port);
        } else if (peer.ss_family == AF_INET6) {
            const auto *in = reinterpret_cast<const sockaddr_in6 *>(&peer);
            ::inet_ntop(AF_INET6, &in->sin6_addr, host, sizeof host);
            port = ntohs(in->sin6_port);
        }
        if (port == req.remote_port && req.remote_addr == host)
            return fd;
    }
    return -1;
}

// The audit entry of an answer being streamed, written once with the bytes sent: when the answer
// ends, when it is cut short (a failure, the service's stop), or when the client leaves (499).
struct Streamed
{
    Store &store;
    Store::AuditEntry audit;
    bool written = false;
    void Write(int status)
    {
        if (std::exchange(written, true))
            return;
        audit.status = status;
        store.Audit(audit);
    }
    ~Streamed()
    {
        try {
            Write(499);
        } catch (const VelError &) {
        }
    }
};

} // namespace

void Service::addReportRoutes()
{
    m_http->Get("/api/v1/reports", signedIn([](const httplib::Request &, httplib::Response &res, const Caller &) {
        QJsonArray reports;
        for (qint32 id : ReportSession::ReportIds())
            reports.append(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("name"), ReportSession::ReportName(id)},
                                       {QStringLiteral("period"), ReportKeys::HasPeriod(id)}});
        ReplyJson(res, 200, reports);
    }, false));
    m_http->Get(R"(/api/v1/reports/(\d+)/keys)",
                signedIn([](const httplib::Request &req, httplib::Response &res, const Caller &caller) {
        const qint32 id = reportOf(req);
        if (!id)
            return ReplyError(res, 404, QStringLiteral("没有这个报表（报表编号为 %1）。").arg(ReportSession::ReportIdsText()));
        const QStringList fixed = caller.user.branch.isEmpty() ? QStringList() : ServiceFilter::BranchKeys(id);
        QJsonArray keys;
        for (const ReportKeys::Key &key : ReportKeys::KeysOf(id)) {
            QJsonObject o = keyJson(key);
            if (fixed.contains(key.name))
                o.insert(QStringLiteral("fixed"), caller.user.branch);
            keys.append(o);
        }
        ReplyJson(res, 200, keys);
    }, false));
    withBody("POST", R"(/api/v1/reports/(\d+)/run)", signedIn([this](const httplib::Request &req, httplib::Response &res,
                                                                 const Caller &caller) { runReport(req, res, caller); },
                                                          true));
    withBody("POST", R"(/api/v1/reports/(\d+)/drill)", signedIn([this](const httplib::Request &req, httplib::Response &res,
                                                                   const Caller &caller) { runReport(req, res, caller); },
                                                            true));
    m_http->Get(R"(/api/v1/lookups/([a-z-]+))", signedIn([this](const httplib::Request &req, httplib::Response &res,
                                                                 const Caller &caller) { lookup(req, res, caller); },
                                                          false));
    // The relative periods; with ?report=ID only those the report takes (one calendar month for
    // a report queried by month).
    m_http->Get("/api/v1/periods", signedIn([](const httplib::Request &req, httplib::Response &res, const Caller &) {
        const QDate today = QDate::currentDate();
        const qint32 report = req.has_param("report") ? QString::fromStdString(req.get_param_value("report")).toInt() : 0;
        if (req.has_param("report") && !ReportSession::ReportIds().contains(report))
            return ReplyError(res, 404, QStringLiteral("没有这个报表（报表编号为 10901 至 10906 或 10908）。"));
        QJsonArray out;
        for (const QString &name : WallClock::RelativePeriodNames()) {
            const auto days = FilterDates::ParsePeriod(name, today);
            try {
                if (report)
                    FilterDates::PeriodKeys(report, days);
            } catch (const VelError &) {
                continue;
            }
            out.append(QJsonObject{{QStringLiteral("label"), name}, {QStringLiteral("period"), name},
                                   {QStringLiteral("first"), days.first.toString(Qt::ISODate)},
                                   {QStringLiteral("last"), days.last.toString(Qt::ISODate)}});
        }
        ReplyJson(res, 200, out);
    }, false));
}

void Service::runReport(const httplib::Request &req, httplib::Response &res, const Caller &caller)
{
    const qint32 id = reportOf(req);
    if (!id)
        return ReplyError(res, 404, QStringLiteral("没有这个报表（报表编号为 %1）。").arg(ReportSession::ReportIdsText()));
    const bool drill = QString::fromStdString(req.path).endsWith(QLatin1String("/drill"));
    const QString format = req.has_param("format") && !drill ? QString::fromStdString(req.get_param_value("format"))
                                                             : QStringLiteral("json");
    bool rowOk = !drill;
    const qint64 row = drill ? QString::fromStdString(req.get_param_value("row")).toLongLong(&rowOk) : -1;
    if (!rowOk || (drill && row < 0))
        return ReplyError(res, 400, QStringLiteral("请用 ?row=N 给出行号（从 0 起）。"));
    static const QStringList formats{QStringLiteral("json"), QStringLiteral("csv"), QStringLiteral("xlsx"),
                                     QStringLiteral("pdf"), QStringLiteral("ndjson")};
    if (!formats.contains(format))
        return ReplyError(res, 400, QStringLiteral("格式“%1”不可用：可用 json、csv、xlsx、pdf、ndjson。").arg(format.left(20)));
    // A file in the page's order: the field of the sorted column, ascending unless order=desc.
    const QString sort = QString::fromStdString(req.get_param_value("sort"));
    const QString order = QString::fromStdString(req.get_param_value("order"));
    static const QRegularExpression fieldName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,63}$"));
    if ((req.has_param("sort") && (!fieldName.match(sort).hasMatch() || format == u"json" || format == u"ndjson"))
        || (req.has_param("order") && (!req.has_param("sort") || (order != u"asc" && order != u"desc"))))
        return ReplyError(res, 400, QStringLiteral("“sort”只用于 csv、xlsx、pdf，写列的字段名；“order”可用 asc 或 desc。"));
    const QString layout = QString::fromStdString(req.get_param_value("layout"));
    if (req.has_param("layout") && (drill || format != QLatin1String("json") || layout != QLatin1String("rows-first")))
        return ReplyError(res, 400, QStringLiteral("“layout”只用于 JSON 的报表结果，可用值为 rows-first。"));
    const QByteArray body = QByteArray::fromStdString(req.body);
    const QDate today = QDate::currentDate();
    const auto prepared = ServiceFilter::FromJson(id, body, today);
    Store::AuditEntry audit{caller.user.name, ClientAddress(req),
                            drill ? QStringLiteral("drill") : QStringLiteral("run"),
                            QString::number(id), QString::fromUtf8(body.left(4000)), format, -1, 0};
    if (!prepared.errors.isEmpty()) {
        audit.status = 400;
        m_store.Audit(audit);
        return ReplyJson(res, 400, QJsonObject{{QStringLiteral("error"), prepared.errors.join(QLatin1Char('\n'))},
                                               {QStringLiteral("problems"), prepared.problems}});
    }
    if (!caller.user.branch.isEmpty()) {
        const QString refused = ServiceFilter::RefusedAtBranch(id, *prepared.filter, caller.user.branch);
        if (!refused.isEmpty()) {
            audit.status = 403;
            m_store.Audit(audit);
            return ReplyError(res, 403, refused);
        }
    }
    WorkerRequest request = requestOf(caller);
    request.op = drill ? WorkerProtocol::Op::Drill : WorkerProtocol::Op::Run;
    request.report = id;
    request.row = row;
    request.filter = body;
    request.format = format;
    request.bom = req.get_param_value("bom") == "1";
    request.rowsFirst = !layout.isEmpty();
    request.sort = sort;
    request.descending = order == u"desc";
    request.today = today;
    const QString given = filterName(body);
    const QString stem = QStringLiteral("%1_%2").arg(id).arg(ServiceFilter::PeriodName(*prepared.filter))
                         + (given.isEmpty() ? QString() : u'_' + given);
    relay(req, request, res, audit, ServiceFilter::ContentType(format), format == QLatin1String("json") ? QString() : stem + u'.' + format);
}

void Service::lookup(const httplib::Request &req, httplib::Response &res, const Caller &caller)
{
    const std::string kind = req.matches[1];
    const ListKind *found = nullptr;
    for (const ListKind &k : lookupKinds)
        if (kind == k.name)
            found = &k;
    if (!found)
        return ReplyError(res, 404, QStringLiteral("没有这个查找列表：可用 customers、items、branches、pos、cashiers、"
                                                   "cards、card-types、brands。"));
    bool offsetOk = true, limitOk = true;
    const int offset = req.has_param("offset") ? QString::fromStdString(req.get_param_value("offset")).toInt(&offsetOk) : 0;
    const int limit = req.has_param("limit") ? QString::fromStdString(req.get_param_value("limit")).toInt(&limitOk) : 50;
    if (!offsetOk || !limitOk || offset < 0 || offset > 10000 || limit < 1 || limit > 500)
        return ReplyError(res, 400, QStringLiteral("“offset”应为 0 到 10000，“limit”应为 1 到 500 的整数。"));
    const QByteArray q = QByteArray::fromStdString(req.get_param_value("q"));
    if (const QString problem = WorkerProtocol::BodyProblem(q); !problem.isEmpty())
        return ReplyError(res, 400, QStringLiteral("“q”：") + problem);
    WorkerRequest request = requestOf(caller);
    request.op = WorkerProtocol::Op::Lookup;
    request.lookupType = found->type;
    request.condition = QString::fromLatin1(found->condition);
    request.text = QString::fromUtf8(q).left(WorkerProtocol::MaxQueryText);
    request.offset = offset;
    request.limit = limit;
    relay(req, std::move(request), res, {caller.user.name, ClientAddress(req), QStringLiteral("lookup"),
                         QString::fromStdString(kind), QString::fromUtf8(q), {}, -1, 0},
          QStringLiteral("application/json; charset=utf-8"), {});
}

WorkerRequest Service::requestOf(const Caller &caller) const
{
    WorkerRequest request;
    request.user = caller.user.name;
    request.branch = caller.user.branch;
    request.sharedCards = m_options.sharedCards;
    request.props = m_options.props;
    return request;
}

void Service::relay(const httplib::Request &req, WorkerRequest request, httplib::Response &res, Store::AuditEntry audit,
                    const QString &contentType, const QString &fileName)
{
    auto call = std::make_shared<WorkerCall>(m_pool, std::move(request), !fileName.isEmpty());
    const auto head = call->Begin(clientSocket(req));
    if (!head) {
        audit.status = 499;
        m_store.Audit(audit);
        return;
    }
    if (head->kind == WorkerProtocol::FrameKind::Failure) {
        audit.status = WorkerProtocol::StatusOf(head->error);
        m_store.Audit(audit);
        if (audit.status == 503)
            res.set_header("Retry-After", "5");
        return ReplyError(res, audit.status, head->sentence);
    }
    res.status = 200;
    if (!fileName.isEmpty())
        res.set_header("Content-Disposition", contentDisposition(head->name + u'_' + fileName, QStringLiteral("report_") + fileName));
    const std::shared_ptr<Streamed> streamed(new Streamed{m_store, audit});
    streamed->audit.bytes = 0;
    const std::atomic<bool> *cut = &m_cut;
    // JSON and the page's lines are gzipped here, each frame flushed as it comes so that the first
    // rows are not held back; the library compresses the text types (CSV) itself.
    const bool lines = contentType.startsWith(QLatin1String("application/x-ndjson"));
    std::shared_ptr<Compression::GzipStream> gzip;
    if (lines || contentType.startsWith(QLatin1String("application/json"))) {
        res.set_header("Vary", "Accept-Encoding");
        if (Compression::Accepts(req, "gzip")) {
            gzip = std::make_shared<Compression::GzipStream>(1);   // a year's rows: speed over size
            res.set_header("Content-Encoding", "gzip");
        }
    }
    // To the client, gzipped when it takes that (`last` ends the gzip member); the bytes counted
    // are the answer's own. False: the client left, audited as 499 when the answer is dropped.
    const auto send = [gzip, streamed](httplib::DataSink &sink, QByteArrayView bytes, bool last) {
        std::string packed = gzip ? gzip->Write(bytes.data(), size_t(bytes.size())) : std::string();
        if (gzip && last)
            packed += gzip->Finish();
        const QByteArrayView out = gzip ? QByteArrayView(packed) : bytes;
        if (!out.isEmpty() && !sink.write(out.data(), size_t(out.size())))
            return false;
        streamed->audit.bytes += bytes.size();
        return true;
    };
    // The page's lines go out whole, so that a tail never joins a line begun; they end with a
    // tail line even when the run does not: it says how it ended.
    const auto begun = std::make_shared<QByteArray>();   // a line's start, held until its end arrives
    // An answer that cannot end well after its 200 went out: the audit keeps the 200 and the
    // status it ended with instead; the page's lines end with their tail, other formats without
    // their last chunk.
    const auto cutShort = [lines, streamed, send](httplib::DataSink &sink, Vel::ErrorKind kind) {
        streamed->audit.cut = WorkerProtocol::StatusOf(kind);
        if (lines) {
            const QJsonObject tail{{QStringLiteral("state"), QLatin1String(kind == Vel::ErrorKind::Cancelled ? "cancelled" : "failed")},
                                   {QStringLiteral("status"), streamed->audit.cut}};
            if (send(sink, QJsonDocument(QJsonObject{{QStringLiteral("tail"), tail}}).toJson(QJsonDocument::Compact) + '\n', true))
                sink.done();
        }
        streamed->Write(200);
        return lines;
    };
    res.set_chunked_content_provider(
        contentType.toStdString(), [call, streamed, cut, lines, begun, send, cutShort](size_t, httplib::DataSink &sink) {
            if (*cut)
                return cutShort(sink, Vel::ErrorKind::Cancelled);
            const WorkerAnswer frame = call->Next();
            if (frame.kind == WorkerProtocol::FrameKind::Data) {
                if (!lines)
                    return send(sink, frame.data, false);
                begun->append(frame.data);
                const qsizetype whole = begun->lastIndexOf('\n') + 1;
                if (!send(sink, QByteArrayView(*begun).first(whole), false))
                    return false;
                begun->remove(0, whole);
                return true;
            }
            if (frame.kind != WorkerProtocol::FrameKind::End)
                return cutShort(sink, frame.error);
            if (!send(sink, *begun, true))
                return false;
            streamed->audit.rows = frame.rows;
            streamed->Write(200);
            sink.done();
            return true;
        });
}
