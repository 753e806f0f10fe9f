#include "Smtp.h"

#include "Mime.h"

#include <QStringList>

#include <curl/curl.h>

#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// The connections whose message's outcome is logged and that only wait for the reply to QUIT:
// the service's stop shuts them down rather than wait up to a whole stage.
struct Quitting
{
    std::mutex lock;
    std::set<curl_socket_t> sockets;
    bool abandoned = false;
} quitting;

int closeSocket(void *, curl_socket_t socket)
{
    std::lock_guard guard(quitting.lock);
    quitting.sockets.erase(socket);
    return ::close(socket);
}

size_t readMessage(char *buffer, size_t size, size_t count, void *user)
{
    const qint64 n = static_cast<MimeReader *>(user)->Read(buffer, qint64(size * count));
    return n < 0 ? CURL_READFUNC_ABORT : size_t(n);
}

// Keeps the server's reply lines; what the client sends (credentials among it) is never looked at.
int watch(CURL *, curl_infotype type, char *data, size_t size, void *user)
{
    if (type == CURLINFO_HEADER_IN) {
        QByteArray line(data, qsizetype(size));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        auto *lines = static_cast<QStringList *>(user);
        lines->append(QString::fromUtf8(line.left(300)));
        if (lines->size() > 20)
            lines->removeFirst();
    }
    return 0;
}

} // namespace

namespace {

SmtpResult outcome(CURL *c, CURLcode rc, const QStringList &replies, const std::string &password,
                   const SmtpSettings &settings, const QString &recipient, const char *error);

} // namespace

SmtpResult SendMail(const SmtpSettings &settings, const QString &recipient, MimeReader &message,
                    const std::function<void(const SmtpResult &)> &record)
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    // Before the handle: its cleanup (QUIT) still writes to them, also when `record` throws.
    QStringList replies;
    char error[CURL_ERROR_SIZE] = {};
    std::unique_ptr<CURL, void (*)(CURL *)> curl(initialised ? curl_easy_init() : nullptr, curl_easy_cleanup);
    if (!curl) {
        const SmtpResult failed{SmtpResult::Transient, {}, QStringLiteral("无法初始化邮件发送（libcurl）")};
        record(failed);
        return failed;
    }
    const std::string url = settings.url.toStdString(), user = settings.user.toStdString(),
                      from = "<" + settings.from.toStdString() + ">", ca = settings.caFile.toStdString(),
                      to = "<" + recipient.toStdString() + ">";
    std::unique_ptr<curl_slist, void (*)(curl_slist *)> rcpt(curl_slist_append(nullptr, to.c_str()), curl_slist_free_all);
    const std::string password = settings.password.toStdString();
    CURL *c = curl.get();
    const long timeout = settings.timeoutSeconds;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(c, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(c, CURLOPT_READDATA, &message);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, watch);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &replies);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
    // Each stage on its own clock: connecting (TLS included), every reply of the server (the
    // greeting, each command, the end of DATA, QUIT), and the message going out at less than
    // one byte a second. The transfer ends with the server's answer to the message; QUIT and
    // the close come when the handle is cleaned up, after the outcome is recorded.
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeout);
    // A password never goes over a connection without TLS.
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(password.empty() ? CURLUSESSL_TRY : CURLUSESSL_ALL));
    if (!ca.empty())
        curl_easy_setopt(c, CURLOPT_CAINFO, ca.c_str());
    if (!user.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
    }
    const CURLcode rc = curl_easy_perform(c);
    const SmtpResult result = outcome(c, rc, replies, password, settings, recipient, error);
    record(result);
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(c, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK && socket != CURL_SOCKET_BAD) {
        std::lock_guard guard(quitting.lock);
        if (quitting.abandoned)
            ::shutdown(socket, SHUT_RDWR);
        else
            quitting.sockets.insert(socket);
    }
    return result;   // then QUIT, as the handle is cleaned up
}

void AbandonQuits()
{
    std::lock_guard guard(quitting.lock);
    quitting.abandoned = true;
    for (const curl_socket_t socket : quitting.sockets)
        ::shutdown(socket, SHUT_RDWR);
}

namespace {

SmtpResult outcome(CURL *c, CURLcode rc, const QStringList &replies, const std::string &password,
                   const SmtpSettings &settings, const QString &recipient, const char *error)
{
    if (rc == CURLE_OK)
        return {};
    long code = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
    // The line of the answer that failed, not the QUIT that followed it.
    QString reply;
    for (auto it = replies.crbegin(); it != replies.crend() && reply.isEmpty(); ++it)
        if (code && it->startsWith(QString::number(code)))
            reply = *it;
    // The server's 5xx answers, refused logins and TLS that cannot be trusted do not pass by
    // waiting; refused connections, time-outs, drops and 4xx answers may.
    const bool permanent = (code >= 500 && rc != CURLE_OPERATION_TIMEDOUT) || rc == CURLE_LOGIN_DENIED
        || rc == CURLE_URL_MALFORMAT || rc == CURLE_UNSUPPORTED_PROTOCOL || rc == CURLE_PEER_FAILED_VERIFICATION
        || rc == CURLE_USE_SSL_FAILED || rc == CURLE_SSL_CACERT_BADFILE;
    QString detail = QString::fromUtf8(*error ? error : curl_easy_strerror(rc));
    if (!password.empty()) {
        detail.replace(QString::fromStdString(password), QStringLiteral("***"));
        reply.replace(QString::fromStdString(password), QStringLiteral("***"));
    }
    // The server's own words when it answered with an error; libcurl's sentence otherwise.
    const bool answered = code >= 400 && !reply.isEmpty();
    return {permanent ? SmtpResult::Permanent : SmtpResult::Transient, answered ? reply : QString(),
            QStringLiteral("邮件服务器 %1 没有接收给 %2 的邮件：%3")
                .arg(settings.url, recipient, answered ? reply : detail)};
}

} // namespace
