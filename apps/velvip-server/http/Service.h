#pragma once

#include "Auth.h"
#include "Scheduler.h"
#include "Store.h"
#include "WorkerPool.h"

#include <QJsonObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

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
    int drainSeconds = 30;         // how long a stop waits for running requests
    QStringList trustedProxies;    // reverse proxies whose X-Forwarded-For names the client (numeric)
    SessionLimits session;
    DeliveryOptions delivery;
    std::function<void()> listening;   // called once the port is held, before the first request

    // HTTP threads: one per request a worker runs or the queue holds, and spares for sign-in,
    // health, the portal and slow clients. The listen backlog holds as many again.
    static constexpr int spareThreads = 32;
    int HttpThreads() const { return workers + queue + spareThreads; }
};

// The report service: HTTP routes over the store, the worker pool and the shared filter code.
class Service
{
public:
    explicit Service(ServiceOptions options);
    ~Service();
    // Listens until Stop(); the exit status. Prints the address it listens on; 1 when the port
    // cannot be had.
    int Run();
    // Stops accepting; running requests get up to drainSeconds to finish, then are cut.
    void Stop();

    // The client's address: the peer's, or the last X-Forwarded-For entry when the peer is a
    // trusted proxy (which sets that entry itself). What the throttle, the audit and the log see.
    QString ClientAddress(const httplib::Request &req) const;
    // An IPv4 or IPv6 address in the form the HTTP library gives peers; empty for anything else.
    static QString NumericAddress(const QString &text);

    // JSON helpers the routes share.
    static void ReplyJson(httplib::Response &res, int status, const QJsonValue &body);
    static void ReplyError(httplib::Response &res, int status, const QString &sentence);

private:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &, const Caller &)>;
    using Route = std::function<void(const httplib::Request &, httplib::Response &)>;
    // Registers a POST, PUT, DELETE or PATCH route whose body, chunked or not, is refused with 413
    // as soon as it passes the limit.
    void withBody(const char *method, const std::string &pattern, Route route);
    void addHealthRoute();
    // Every few seconds: whether the chain answers (what health reports).
    void probeChain();
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
    int m_listener = -1;                 // the listening socket, once bound
    std::atomic<bool> m_chainUp{false};
    std::atomic<bool> m_draining{false}; // stopped: no new requests
    std::atomic<bool> m_cut{false};      // the drain time is over: running requests end now
    std::mutex m_stopLock;
    std::condition_variable m_stopped;
    bool m_ended = false;
    bool m_probed = false;               // the chain was checked once
    std::thread m_probe;
    std::thread m_drain;
};
