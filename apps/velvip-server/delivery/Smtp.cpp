#include "Smtp.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>

namespace {

struct Reader
{
    const QByteArray &data;
    qsizetype at = 0;
};

size_t readMessage(char *buffer, size_t size, size_t count, void *user)
{
    auto *reader = static_cast<Reader *>(user);
    const size_t n = std::min(size * count, size_t(reader->data.size() - reader->at));
    std::memcpy(buffer, reader->data.constData() + reader->at, n);
    reader->at += qsizetype(n);
    return n;
}

} // namespace

SmtpResult SendMail(const SmtpSettings &settings, const QStringList &recipients, const QByteArray &message)
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    std::unique_ptr<CURL, void (*)(CURL *)> curl(initialised ? curl_easy_init() : nullptr, curl_easy_cleanup);
    if (!curl)
        return {SmtpResult::Transient, QStringLiteral("无法初始化邮件发送（libcurl）")};
    curl_slist *to = nullptr;
    for (const QString &r : recipients)
        to = curl_slist_append(to, ("<" + r.toStdString() + ">").c_str());
    std::unique_ptr<curl_slist, void (*)(curl_slist *)> toOwner(to, curl_slist_free_all);
    Reader reader{message};
    char error[CURL_ERROR_SIZE] = {};
    CURL *c = curl.get();
    const std::string url = settings.url.toStdString(), user = settings.user.toStdString(),
                      from = "<" + settings.from.toStdString() + ">", ca = settings.caFile.toStdString();
    const std::string password = settings.password.toStdString();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, to);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(c, CURLOPT_READDATA, &reader);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, long(std::min(settings.timeoutSeconds, 30)));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, long(settings.timeoutSeconds));
    // A password never goes over a connection without TLS.
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(password.empty() ? CURLUSESSL_TRY : CURLUSESSL_ALL));
    if (!ca.empty())
        curl_easy_setopt(c, CURLOPT_CAINFO, ca.c_str());
    if (!user.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
    }
    const CURLcode rc = curl_easy_perform(c);
    if (rc == CURLE_OK)
        return {};
    long reply = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply);
    // The server's 5xx answers, refused logins and TLS that cannot be trusted do not pass by
    // waiting; refused connections, time-outs, drops and 4xx answers may.
    const bool permanent = reply >= 500 || rc == CURLE_LOGIN_DENIED || rc == CURLE_URL_MALFORMAT
        || rc == CURLE_UNSUPPORTED_PROTOCOL || rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_USE_SSL_FAILED
        || rc == CURLE_SSL_CACERT_BADFILE;
    QString detail = QString::fromUtf8(*error ? error : curl_easy_strerror(rc));
    if (!password.empty())
        detail.replace(QString::fromStdString(password), QStringLiteral("***"));
    return {permanent ? SmtpResult::Permanent : SmtpResult::Transient,
            QStringLiteral("邮件服务器 %1 没有接收邮件：%2%3")
                .arg(settings.url, detail, reply ? QStringLiteral("（应答 %1）").arg(reply) : QString())};
}
