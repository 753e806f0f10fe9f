#pragma once

#include "Auth.h"
#include "Scheduler.h"
#include "Store.h"
#include "WorkerPool.h"

#include <QJsonObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

struct ServiceOptions
{
    QString props;                 // the chain's connection text
    QString host = QStringLiteral("127.0.0.1");
    int port = 8080;
    QString cert, key;             // TLS when both are given
    bool insecureListen = false;   // plain HTTP on an address other than loopback
    QString storePath;
    bool sharedCards = true;       // the chain shares stored-value cards between branches
    int workers = 2;
    int queue = 16;
    int downloads = 1;             // downloads (csv, xlsx, pdf) running at once
    int httpThreads = 8;
    SessionLimits session;
    DeliveryOptions delivery;
};

// The report service: HTTP routes over the store, the worker pool and the shared filter code.
class Service
{
public:
    explicit Service(ServiceOptions options);
    ~Service();
    // Listens until Stop(); the exit status. Prints the address it listens on.
    int Run();
    void Stop();

    // The context a report runs in for a user of `branch` (empty: head office): a branch sees
    // only its own rows, as its desktop does. Scheduled deliveries use the same.
    static QVariantMap BranchContext(const QString &branch, bool sharedCards);

    // JSON helpers the routes share.
    static void ReplyJson(httplib::Response &res, int status, const QJsonValue &body);
    static void ReplyError(httplib::Response &res, int status, const QString &sentence);

private:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &, const Caller &)>;
    // Wraps a route that needs a signed-in caller; `changes` routes need the CSRF token too.
    std::function<void(const httplib::Request &, httplib::Response &)> signedIn(Handler handler, bool changes);

    void addSessionRoutes();
    void addReportRoutes();
    void addSchemeRoutes();
    void addScheduleRoutes();

    void signIn(const httplib::Request &req, httplib::Response &res);
    void runReport(const httplib::Request &req, httplib::Response &res, const Caller &caller);
    void lookup(const httplib::Request &req, httplib::Response &res, const Caller &caller);
    // A worker request of the caller: user, branch, the chain.
    WorkerRequest requestOf(const Caller &caller) const;
    // Sends one request to a worker and replies with its answer, streamed; the audit entry gets
    // the status and rows.
    void relay(const httplib::Request &req, WorkerRequest request, httplib::Response &res, Store::AuditEntry audit,
               const QString &contentType, const QString &fileName);

    ServiceOptions m_options;
    Store m_store;
    WorkerPool m_pool;
    Scheduler m_scheduler;
    LoginThrottle m_throttle;
    std::unique_ptr<httplib::Server> m_http;
    bool m_tls = false;
};
