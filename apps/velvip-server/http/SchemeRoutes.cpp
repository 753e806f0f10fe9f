// Saved filter schemes, per user and report, and the API's own description.
#include "Service.h"

#include "ReportSession.h"
#include "ServiceFilter.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>

#include <httplib.h>

namespace {

struct SchemeRef
{
    qint32 report = 0;
    QString name;
    QString error;   // why the route cannot be served
};

SchemeRef schemeOf(const httplib::Request &req)
{
    SchemeRef ref;
    ref.report = QString::fromStdString(req.matches[1]).toInt();
    if (!ReportSession::ReportIds().contains(ref.report))
        ref.error = QStringLiteral("没有这个报表（报表编号为 %1）。").arg(ReportSession::ReportIdsText());
    if (req.matches.size() > 2) {
        ref.name = QString::fromStdString(req.matches[2]).trimmed();
        if (ref.name.isEmpty() || ref.name.size() > 100 || ref.name.contains(QChar(0)))
            ref.error = QStringLiteral("方案名称应为 1 到 100 个字符。");
    }
    return ref;
}

} // namespace

void Service::addSchemeRoutes()
{
    const char *list = R"(/api/v1/reports/(\d+)/schemes)";
    const char *one = R"(/api/v1/reports/(\d+)/schemes/([^/]+))";
    m_http->Get(list, signedIn([this](const httplib::Request &req, httplib::Response &res, const Caller &caller) {
        const SchemeRef ref = schemeOf(req);
        if (!ref.error.isEmpty())
            return ReplyError(res, 404, ref.error);
        ReplyJson(res, 200, m_store.Schemes(caller.user.name, ref.report));
    }, false));
    m_http->Get(one, signedIn([this](const httplib::Request &req, httplib::Response &res, const Caller &caller) {
        const SchemeRef ref = schemeOf(req);
        const auto filter = ref.error.isEmpty() ? m_store.Scheme(caller.user.name, ref.report, ref.name) : std::nullopt;
        if (!filter)
            return ReplyError(res, 404, ref.error.isEmpty() ? QStringLiteral("没有这个方案。") : ref.error);
        res.set_content(filter->toStdString(), "application/json; charset=utf-8");
    }, false));
    withBody("PUT", one, signedIn([this](const httplib::Request &req, httplib::Response &res, const Caller &caller) {
        const SchemeRef ref = schemeOf(req);
        if (!ref.error.isEmpty())
            return ReplyError(res, 404, ref.error);
        const QByteArray body = QByteArray::fromStdString(req.body);
        const auto prepared = ServiceFilter::FromJson(ref.report, body, QDate::currentDate());
        if (!prepared.errors.isEmpty())
            return ReplyError(res, 400, prepared.errors.join(QLatin1Char('\n')));
        if (!caller.user.branch.isEmpty()) {
            const QString refused = ServiceFilter::RefusedAtBranch(ref.report, *prepared.filter, caller.user.branch);
            if (!refused.isEmpty())
                return ReplyError(res, 403, refused);
        }
        m_store.SaveScheme(caller.user.name, ref.report, ref.name, body);
        res.status = 204;
    }, true));
    withBody("DELETE", one, signedIn([this](const httplib::Request &req, httplib::Response &res, const Caller &caller) {
        const SchemeRef ref = schemeOf(req);
        if (!ref.error.isEmpty() || !m_store.RemoveScheme(caller.user.name, ref.report, ref.name))
            return ReplyError(res, 404, ref.error.isEmpty() ? QStringLiteral("没有这个方案。") : ref.error);
        res.status = 204;
    }, true));
    m_http->Get("/api/v1/openapi.json", [](const httplib::Request &, httplib::Response &res) {
        QFile file(QStringLiteral(":/velvip-server/openapi.json"));
        file.open(QIODevice::ReadOnly);
        res.set_content(file.readAll().toStdString(), "application/json; charset=utf-8");
    });
}
