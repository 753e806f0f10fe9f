#include "Service.h"

#include "BranchContext.h"
#include "Compression.h"
#include "ConnectionText.h"
#include "Database.h"
#include "PortalRoutes.h"
#include "ReadSessions.h"
#include "ReportSession.h"
#include "Secrets.h"
#include "ServiceFilter.h"
#include "StandbyChooser.h"
#include "VelError.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <httplib.h>
#include <sodium.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Why HOST:PORT cannot be listened on, found by trying it as the listener does (the HTTP
// library keeps the reason to itself).
QString listenProblem(const QString &host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found) != 0 || !found)
        return QStringLiteral("找不到这个地址");
    int error = 0;
    const int fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (fd < 0) {
        error = errno;
    } else {
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 1) != 0)
            error = errno;
        close(fd);
    }
    freeaddrinfo(found);
    switch (error) {
    case EADDRINUSE: return QStringLiteral("端口已被占用（另一个 velvip-server 或其他程序在用）");
    case EACCES: return QStringLiteral("没有权限（1024 以下的端口需要 root 或 CAP_NET_BIND_SERVICE）");
    case EADDRNOTAVAIL: return QStringLiteral("本机没有这个地址");
    case 0: return QStringLiteral("原因不明");
    default: return QString::fromLocal8Bit(strerror(error));
    }
}

const char kCookie[] = "velvip_session";
// The session's CSRF token for the portal's pages to read: every tab of a browser sends the one
// of its last sign-in. The service compares it with the session's, so it proves the same origin.
const char kCsrfCookie[] = "velvip_csrf";
constexpr int kIoTimeoutSeconds = 10;   // a client's read or write that makes no progress

QByteArray cookieValue(const httplib::Request &req, const char *name)
{
    const QByteArray header = QByteArray::fromStdString(req.get_header_value("Cookie"));
    for (const QByteArray &part : header.split(';')) {
        const QByteArray pair = part.trimmed();
        if (pair.startsWith(QByteArray(name) + '='))
            return pair.mid(qstrlen(name) + 1);
    }
    return {};
}

QByteArray bearerToken(const httplib::Request &req)
{
    const QByteArray header = QByteArray::fromStdString(req.get_header_value("Authorization"));
    return header.startsWith("Bearer ") ? header.mid(7).trimmed() : QByteArray();
}

bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    return !a.isEmpty() && a.size() == b.size() && sodium_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

bool isLoopback(const QString &host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("::1") || host.startsWith(QLatin1String("127."));
}

// One JSON line per request on standard error: when, who asked what, and the answer.
void accessLog(const QString &address, const httplib::Request &req, const httplib::Response &res)
{
    const QJsonObject line{{QStringLiteral("at"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                           {QStringLiteral("address"), address},
                           {QStringLiteral("method"), QString::fromStdString(req.method)},
                           {QStringLiteral("path"), QString::fromStdString(req.path)},
                           {QStringLiteral("status"), res.status}};
    QTextStream(stderr) << QJsonDocument(line).toJson(QJsonDocument::Compact) << Qt::endl;
}

// Each server of a connection text naming standbys, standbys first: its engine, role, state and
// lag. Addresses stay out: the page answers without a login.
std::mutex chainLock;   // the pooled sessions health asks are used by one thread at a time

QJsonArray serverStates(const QString &props, const QString &engine)
{
    std::lock_guard guard(chainLock);
    QJsonArray servers;
    for (const StandbyChooser::Server &s : StandbyChooser::Status(props))
        servers.append(QJsonObject{{QStringLiteral("engine"), engine},
                                   {QStringLiteral("role"), s.primary ? QStringLiteral("primary") : QStringLiteral("standby")},
                                   {QStringLiteral("state"), s.state},
                                   {QStringLiteral("lagSeconds"), double(s.lagMs) / 1000.0}});
    return servers;
}

// Whether the chain answers a query now: any of its servers when it names standbys.
bool chainAnswers(const QString &props)
{
    std::lock_guard guard(chainLock);
    if (StandbyChooser::Named(props)) {
        const auto servers = StandbyChooser::Status(props);
        return std::any_of(servers.begin(), servers.end(),
                           [](const StandbyChooser::Server &s) { return s.state != QLatin1String("down"); });
    }
    try {
        ReadSessions::For(props).SelectInt(QStringLiteral("SELECT 1"));
        return true;
    } catch (const VelError &) {
        ReadSessions::Release(props);
        return false;
    }
}

void replyTooLarge(httplib::Response &res)
{
    res.set_header("Connection", "close");
    Service::ReplyError(res, 413, QStringLiteral("请求太大（最多 %1 KB）").arg(ServiceFilter::MaxBody / 1024));
}

} // namespace

Service::Service(ServiceOptions options)
    : m_options(std::move(options)), m_store(m_options.storePath),
      m_pool(QCoreApplication::applicationFilePath(), m_options.workers, m_options.queue, m_options.downloads),
      m_scheduler(m_store, m_pool, m_options.props, m_options.sharedCards, m_options.delivery), m_throttle(m_store)
{
    m_tls = !m_options.cert.isEmpty() && !m_options.key.isEmpty();
    if (!m_tls && !isLoopback(m_options.host) && !m_options.insecureListen)
        throw VelError(QStringLiteral("不加密的 HTTP 只能监听本机地址（127.0.0.1 或 ::1）；请用 --cert 和 --key 启用 TLS，"
                                      "或明确给出 --insecure-listen。"));
    if (m_tls)
        m_http = std::make_unique<httplib::SSLServer>(m_options.cert.toLocal8Bit().constData(),
                                                      m_options.key.toLocal8Bit().constData());
    else
        m_http = std::make_unique<httplib::Server>();
    if (!m_http->is_valid())
        throw VelError(QStringLiteral("无法读取 TLS 证书或私钥（--cert、--key）"));
    const int threads = m_options.HttpThreads();
    m_http->new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    // The library's default also sets SO_REUSEPORT, which would let a second service share the port.
    m_http->set_socket_options([this](int socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        m_listener = socket;
    });
    m_http->set_payload_max_length(size_t(ServiceFilter::MaxBody));
    m_http->set_read_timeout(kIoTimeoutSeconds);
    m_http->set_write_timeout(kIoTimeoutSeconds);
    m_http->set_keep_alive_timeout(2);
    httplib::Headers secure{{"X-Content-Type-Options", "nosniff"},
                            {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:; style-src 'self'; "
                                                        "frame-ancestors 'none'; base-uri 'none'; form-action 'self'"},
                            {"X-Frame-Options", "DENY"},
                            {"Referrer-Policy", "no-referrer"}};
    if (m_tls)
        secure.emplace("Strict-Transport-Security", "max-age=31536000");
    m_http->set_default_headers(secure);
    m_http->set_pre_routing_handler([this](const httplib::Request &, httplib::Response &res) {
        if (!m_draining)
            return httplib::Server::HandlerResponse::Unhandled;
        res.set_header("Connection", "close");
        res.set_header("Retry-After", "5");
        ReplyError(res, 503, QStringLiteral("服务正在停止，请稍后再试。"));
        return httplib::Server::HandlerResponse::Handled;
    });
    m_http->set_post_routing_handler(Compression::GzipJsonBody);
    m_http->set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        accessLog(ClientAddress(req), req, res);
    });
    m_http->set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty() || res.is_chunked_content_provider_)
            return;
        if (res.status == 413)
            replyTooLarge(res);
        else if (res.status == 404)
            ReplyError(res, 404, QStringLiteral("没有这个地址"));
        else
            ReplyError(res, res.status, QStringLiteral("请求无法处理（HTTP %1）").arg(res.status));
    });
    m_http->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr error) {
        QString sentence = QStringLiteral("服务内部出错，这次请求没有完成。");
        try {
            std::rethrow_exception(error);
        } catch (const VelError &e) {
            sentence = e.Description();
        } catch (...) {
        }
        ReplyError(res, 500, sentence);
    });
    addHealthRoute();
    addSessionRoutes();
    addReportRoutes();
    addSchemeRoutes();
    addScheduleRoutes();
    AddPortalRoutes(*m_http);
    // Last: any other path with a body is read within the limit too before its 404 (the library
    // reads the body of a request no content reader takes whole, chunked ones without a limit).
    for (const char *method : {"POST", "PUT", "DELETE", "PATCH"})
        withBody(method, "/.*", [](const httplib::Request &, httplib::Response &res) {
            ReplyError(res, 404, QStringLiteral("没有这个地址"));
        });
}

Service::~Service()
{
    {
        std::lock_guard guard(m_stopLock);
        m_ended = true;
    }
    m_stopped.notify_all();
    for (std::thread *t : {&m_probe, &m_drain})
        if (t->joinable())
            t->join();
}

int Service::Run()
{
    if (!m_http->bind_to_port(m_options.host.toStdString(), m_options.port)) {
        const bool taken = errno == EADDRINUSE;
        const QString said = taken ? QStringLiteral("velvip-server: 端口 %2 已被占用（%1:%2 上已有程序在监听）")
                                         .arg(m_options.host).arg(m_options.port)
                                   : QStringLiteral("velvip-server: 无法监听 %1:%2：%3")
                                         .arg(m_options.host).arg(m_options.port)
                                         .arg(listenProblem(m_options.host, m_options.port));
        QTextStream(stderr) << said << Qt::endl;
        return 1;
    }
    // Connections beyond the threads wait here rather than being refused by the kernel.
    if (m_listener >= 0)
        ::listen(m_listener, 2 * m_options.HttpThreads());
    if (m_options.listening)
        m_options.listening();
    QTextStream(stdout) << QStringLiteral("velvip-server: 在 %1://%2:%3/ 提供服务")
                               .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"), m_options.host)
                               .arg(m_options.port)
                        << Qt::endl;
    m_probe = std::thread([this] { probeChain(); });
    m_scheduler.Start();
    m_pool.Prepare();
    // Returns once the listener is shut and every accepted connection has been answered.
    if (!m_draining)
        m_http->listen_after_bind();
    m_scheduler.Stop();
    return 0;
}

void Service::Stop()
{
    if (m_draining.exchange(true))
        return;
    // Accepting ends; the library's own stop() would also cut answers being streamed.
    if (m_listener >= 0)
        ::shutdown(m_listener, SHUT_RDWR);
    m_drain = std::thread([this] {
        std::unique_lock guard(m_stopLock);
        if (m_stopped.wait_for(guard, std::chrono::seconds(m_options.drainSeconds), [this] { return m_ended; }))
            return;
        // Requests still running are cut (and audited as such): those waiting on a worker are
        // answered 503 and their workers stopped, answers being sent end at their next piece. A
        // write to a client that stopped reading ends within the write timeout; a process still
        // held after that does not stay.
        m_cut = true;
        guard.unlock();
        m_pool.Cut();
        guard.lock();
        if (!m_stopped.wait_for(guard, std::chrono::seconds(kIoTimeoutSeconds + 5), [this] { return m_ended; }))
            std::_Exit(1);
    });
}

void Service::probeChain()
{
    std::unique_lock guard(m_stopLock);
    while (!m_ended && !m_draining) {
        guard.unlock();
        m_chainUp = chainAnswers(m_options.props);
        guard.lock();
        m_probed = true;
        m_stopped.notify_all();
        m_stopped.wait_for(guard, std::chrono::seconds(5), [this] { return m_ended || m_draining.load(); });
    }
}

void Service::addHealthRoute()
{
    m_http->Get("/api/v1/health", [this](const httplib::Request &req, httplib::Response &res) {
        {
            // Just started: the first check is on its way.
            std::unique_lock guard(m_stopLock);
            m_stopped.wait_for(guard, std::chrono::milliseconds(800), [this] { return m_probed || m_ended; });
        }
        const bool up = m_chainUp;
        const QString state = up ? QStringLiteral("ok") : QStringLiteral("unavailable");
        const auto caller = FindCaller(m_store, cookieValue(req, kCookie), bearerToken(req), m_options.session,
                                       QDateTime::currentSecsSinceEpoch());
        // Without a login: only whether it serves.
        if (!caller)
            return ReplyJson(res, up ? 200 : 503, QJsonObject{{QStringLiteral("status"), state}});
        const auto load = m_pool.Current();
        const QString engine = ConnectionText::Parse(m_options.props).DriverName();
        // A delivery that failed for good keeps the service degraded until it is sent again.
        const qint64 failed = m_store.CountDeliveries(Store::DeliveryState::FailedPermanent);
        QJsonObject health{{QStringLiteral("status"), up && failed ? QStringLiteral("degraded") : state},
                           {QStringLiteral("engine"), engine},
                           {QStringLiteral("version"), QCoreApplication::applicationVersion()},
                           {QStringLiteral("workers"), load.size},
                           {QStringLiteral("busy"), load.busy},
                           {QStringLiteral("queued"), load.queued},
                           {QStringLiteral("deliveries"),
                            QJsonObject{{QStringLiteral("failed"), failed},
                                        {QStringLiteral("retrying"), m_store.CountDeliveries(Store::DeliveryState::FailedTransient)}}}};
        if (StandbyChooser::Named(m_options.props))
            health.insert(QStringLiteral("servers"), serverStates(m_options.props, engine));
        ReplyJson(res, up ? 200 : 503, health);
    });
}

void Service::withBody(const char *method, const std::string &pattern, Route route)
{
    const httplib::Server::HandlerWithContentReader reader =
        [route](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &content) {
            std::string body;
            bool over = false;
            const bool whole = content([&](const char *data, size_t size) {
                over = body.size() + size > size_t(ServiceFilter::MaxBody);
                if (!over)
                    body.append(data, size);
                return !over;
            });
            if (over || res.status == 413)
                return replyTooLarge(res);
            if (!whole) {
                res.set_header("Connection", "close");
                return ReplyError(res, 400, QStringLiteral("请求体不完整"));
            }
            httplib::Request read = req;
            read.body = std::move(body);
            route(read, res);
        };
    if (qstrcmp(method, "PUT") == 0) {
        m_http->Put(pattern, route);
        m_http->Put(pattern, reader);
    } else if (qstrcmp(method, "DELETE") == 0) {
        m_http->Delete(pattern, route);
        m_http->Delete(pattern, reader);
    } else if (qstrcmp(method, "PATCH") == 0) {
        m_http->Patch(pattern, route);
        m_http->Patch(pattern, reader);
    } else {
        m_http->Post(pattern, route);
        m_http->Post(pattern, reader);
    }
}

QString Service::ClientAddress(const httplib::Request &req) const
{
    const QString peer = NumericAddress(QString::fromStdString(req.remote_addr));
    if (!m_options.trustedProxies.contains(peer))
        return peer;
    // The proxy appends the address it saw last; what comes before it is the client's to say.
    const QString client = NumericAddress(
        QString::fromStdString(req.get_header_value("X-Forwarded-For")).section(u',', -1).trimmed());
    return client.isEmpty() ? peer : client;
}

QString Service::NumericAddress(const QString &text)
{
    const QByteArray given = text.toLatin1();
    unsigned char bytes[sizeof(in6_addr)];
    char out[INET6_ADDRSTRLEN] = {};
    for (int family : {AF_INET, AF_INET6}) {
        if (::inet_pton(family, given.constData(), bytes) != 1)
            continue;
        // An IPv4 peer of an IPv6 listener (::ffff:a.b.c.d) is that IPv4 address.
        const auto *v6 = reinterpret_cast<const in6_addr *>(bytes);
        if (family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(v6)) {
            family = AF_INET;
            std::memmove(bytes, bytes + 12, 4);
        }
        if (::inet_ntop(family, bytes, out, sizeof out))
            return QString::fromLatin1(out);
    }
    return {};
}

void Service::ReplyJson(httplib::Response &res, int status, const QJsonValue &body)
{
    res.status = status;
    const QByteArray json = body.isArray() ? QJsonDocument(body.toArray()).toJson(QJsonDocument::Compact)
                                           : QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact);
    res.set_content(json.toStdString(), "application/json; charset=utf-8");
}

void Service::ReplyError(httplib::Response &res, int status, const QString &sentence)
{
    ReplyJson(res, status, QJsonObject{{QStringLiteral("error"), sentence}});
}

std::function<void(const httplib::Request &, httplib::Response &)> Service::signedIn(Handler handler, bool changes)
{
    return [this, handler, changes](const httplib::Request &req, httplib::Response &res) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QString refusal;
        const auto caller = FindCaller(m_store, cookieValue(req, kCookie), bearerToken(req), m_options.session, now, &refusal);
        if (!caller)
            return ReplyError(res, 401, refusal.isEmpty() ? QStringLiteral("请先登录（没有登录、登录已过期或已退出）。") : refusal);
        if (changes && !caller->bearer
            && !sameSecret(QByteArray::fromStdString(req.get_header_value("X-CSRF-Token")), caller->csrf))
            return ReplyError(res, 403, QStringLiteral("缺少或错误的 CSRF 令牌：请在请求头 X-CSRF-Token 中发送登录时得到的“csrf”。"));
        handler(req, res, *caller);
    };
}

void Service::addSessionRoutes()
{
    withBody("POST", "/api/v1/session", [this](const httplib::Request &req, httplib::Response &res) { signIn(req, res); });
    withBody("DELETE", "/api/v1/session",
                   signedIn([this](const httplib::Request &, httplib::Response &res, const Caller &caller) {
                       if (!caller.sessionHash.isEmpty())
                           m_store.RemoveSession(caller.sessionHash);
                       for (const char *cookie : {kCookie, kCsrfCookie})
                           res.set_header("Set-Cookie", std::string(cookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"
                                                            + (m_tls ? "; Secure" : ""));
                       res.status = 204;
                   }, true));
    m_http->Get("/api/v1/session", signedIn([](const httplib::Request &, httplib::Response &res, const Caller &caller) {
                    ReplyJson(res, 200, QJsonObject{{QStringLiteral("user"), caller.user.name},
                                                    {QStringLiteral("branch"), caller.user.branch}});
                }, false));
}

void Service::signIn(const httplib::Request &req, httplib::Response &res)
{
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
    const QString name = body.value(QStringLiteral("user")).toString();
    const QByteArray password = body.value(QStringLiteral("password")).toString().toUtf8();
    if (name.isEmpty() || password.isEmpty())
        return ReplyError(res, 400, QStringLiteral("请给出用户名（“user”）和密码（“password”）。"));
    const QString address = ClientAddress(req);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (const qint64 wait = m_throttle.Wait(name, address, now); wait > 0) {
        res.set_header("Retry-After", std::to_string(wait));
        return ReplyError(res, 429, QStringLiteral("登录失败次数太多，请 %1 秒后再试。").arg(wait));
    }
    const auto user = m_store.FindUser(name);
    // A missing user costs the same hash as a wrong password.
    static const QByteArray dummy = Password::Hash(RandomSecret());
    const bool ok = Password::Verify(user ? user->passwordHash : dummy, password) && user && !user->disabled;
    m_store.Audit({name, address, ok ? QStringLiteral("login") : QStringLiteral("login-failed"), {}, {}, {}, -1, ok ? 200 : 401});
    if (!ok) {
        m_throttle.Failed(name, address, now);
        return ReplyError(res, 401, QStringLiteral("用户名或密码不对，或者用户已停用。"));
    }
    m_throttle.Succeeded(name, address);
    const QByteArray id = RandomSecret();
    const QByteArray csrf = RandomSecret();
    m_store.RemoveSessionsBefore(now - m_options.session.idleSeconds, now - m_options.session.absoluteSeconds);
    m_store.AddSession(SecretHash(id), {name, csrf, now, now});
    res.set_header("Set-Cookie", std::string(kCookie) + "=" + id.toStdString() + "; Path=/; HttpOnly; SameSite=Strict"
                                     + (m_tls ? "; Secure" : ""));
    res.set_header("Set-Cookie", std::string(kCsrfCookie) + "=" + csrf.toStdString() + "; Path=/; SameSite=Strict"
                                     + (m_tls ? "; Secure" : ""));
    ReplyJson(res, 200, QJsonObject{{QStringLiteral("csrf"), QString::fromLatin1(csrf)},
                                    {QStringLiteral("user"), name},
                                    {QStringLiteral("branch"), user->branch}});
}

