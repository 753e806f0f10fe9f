// Scheduled deliveries through the API: head-office users only.
#include "Service.h"

#include "VelError.h"
#include "Checks.h"
#include "Cron.h"
#include "WorkerProtocol.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <httplib.h>

namespace {

// The schedule of a request body; throws VelError.
Store::Schedule scheduleOf(const QByteArray &body)
{
    if (const QString problem = WorkerProtocol::BodyProblem(body); !problem.isEmpty())
        throw VelError(Vel::ErrorKind::BadFilter, problem);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(body, &error).object();
    if (error.error != QJsonParseError::NoError)
        throw VelError(QStringLiteral("请求应为一个 JSON 对象"));
    const QString split = o.value(QStringLiteral("split")).toString();
    if (split != u"branch" && split != u"none")
        throw VelError(QStringLiteral("“split”应为 branch 或 none"));
    Store::Schedule c;
    c.report = o.value(QStringLiteral("report")).toInt();
    c.filter = QJsonDocument(o.value(QStringLiteral("filter")).toObject()).toJson(QJsonDocument::Compact);
    c.format = o.value(QStringLiteral("format")).toString();
    c.perBranch = split == u"branch";
    for (const QJsonValue &to : o.value(QStringLiteral("to")).toArray())
        c.to << to.toString();
    c.cron = o.value(QStringLiteral("cron")).toString();
    c.zone = o.value(QStringLiteral("tz")).toString(Cron::DefaultZone());
    c.checkedUntil = QDateTime::currentSecsSinceEpoch();
    Scheduler::Check(c);
    return c;
}

} // namespace

void Service::addScheduleRoutes()
{
    // Wraps a route for head-office callers; `id` routes get the schedule or a 404.
    auto headOffice = [this](auto handler, bool changes) {
        return signedIn([this, handler](const httplib::Request &req, httplib::Response &res, const Caller &caller) {
            if (!caller.user.branch.isEmpty())
                return ReplyError(res, 403, QStringLiteral("只有总部用户可以管理定时发送。"));
            try {
                handler(req, res, caller);
            } catch (const VelError &e) {
                ReplyError(res, 400, e.Description());
            }
        }, changes);
    };
    auto scheduleOfRoute = [this](const httplib::Request &req) {
        return m_store.FindSchedule(QString::fromStdString(req.matches[1]).toLongLong());
    };
    const QString missing = QStringLiteral("没有这个计划。");
    m_http->Get("/api/v1/schedules", headOffice([this](const httplib::Request &, httplib::Response &res, const Caller &) {
        QJsonArray out;
        for (const Store::Schedule &c : m_store.Schedules())
            out.append(Scheduler::ToJson(c));
        ReplyJson(res, 200, out);
    }, false));
    // The zones a schedule may name: the system's zone names that the schedule's own check takes.
    m_http->Get("/api/v1/zones", headOffice([](const httplib::Request &, httplib::Response &res, const Caller &) {
        static const QJsonArray zones = [] {
            QJsonArray out;
            for (const QByteArray &id : QTimeZone::availableTimeZoneIds())
                if (DeliveryCheck::Zone({}, QString::fromUtf8(id)).isEmpty())
                    out.append(QString::fromUtf8(id));
            return out;
        }();
        ReplyJson(res, 200, zones);
    }, false));
    withBody("POST", "/api/v1/schedules", headOffice([this](const httplib::Request &req, httplib::Response &res, const Caller &caller) {
        const Store::Schedule c = scheduleOf(QByteArray::fromStdString(req.body));
        const qint64 id = m_store.AddSchedule(c);
        m_store.Audit({caller.user.name, ClientAddress(req), QStringLiteral("schedule-add"),
                       QString::number(c.report), QString::fromUtf8(c.filter), c.format, -1, 201});
        ReplyJson(res, 201, QJsonObject{{QStringLiteral("id"), id}});
    }, true));
    m_http->Get(R"(/api/v1/schedules/(\d+)/deliveries)",
                headOffice([this, scheduleOfRoute, missing](const httplib::Request &req, httplib::Response &res, const Caller &) {
        const auto c = scheduleOfRoute(req);
        if (!c)
            return ReplyError(res, 404, missing);
        QJsonArray out;
        for (const Store::Delivery &d : m_store.Deliveries(c->id, 200))
            out.append(Scheduler::ToJson(d, m_store.Recipients(d)));
        ReplyJson(res, 200, out);
    }, false));
    withBody("POST", R"(/api/v1/schedules/(\d+)/run)",
                 headOffice([this, scheduleOfRoute, missing](const httplib::Request &req, httplib::Response &res, const Caller &) {
        const auto c = scheduleOfRoute(req);
        if (!c)
            return ReplyError(res, 404, missing);
        if (!c->enabled)
            return ReplyError(res, 409, QStringLiteral("计划 %1 已停用。").arg(c->id));
        const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
        const QString day = body.value(QStringLiteral("slot")).toString();
        const QDate date = QDate::fromString(day, Qt::ISODate);
        if (!day.isEmpty() && !date.isValid())
            return ReplyError(res, 400, QStringLiteral("“slot”应为 YYYY-MM-DD"));
        const QString slot = Scheduler::SlotOf(*c, date);
        const int queued = Scheduler::Queue(m_store, *c, slot, QDateTime::currentSecsSinceEpoch());
        m_scheduler.Wake();
        ReplyJson(res, 202, QJsonObject{{QStringLiteral("slot"), slot}, {QStringLiteral("queued"), queued}});
    }, true));
    withBody("POST", R"(/api/v1/schedules/(\d+)/disable)",
                 headOffice([this, missing](const httplib::Request &req, httplib::Response &res, const Caller &) {
        if (!m_store.SetScheduleEnabled(QString::fromStdString(req.matches[1]).toLongLong(), false))
            return ReplyError(res, 404, missing);
        res.status = 204;
    }, true));
}
