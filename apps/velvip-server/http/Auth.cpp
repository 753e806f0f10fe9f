#include "Auth.h"

#include "Secrets.h"
#include "VelError.h"

#include <QDateTime>

#include <algorithm>

qint64 LoginThrottle::waitFor(const QString &key, qint64 now)
{
    const auto it = m_failures.constFind(key);
    if (it == m_failures.cend())
        return 0;
    if (now - it->last > windowSeconds) {
        m_failures.erase(it);
        return 0;
    }
    if (it->failures < free)
        return 0;
    const qint64 wait = std::min(firstWait << std::min(it->failures - free, 20), maxWait);
    return std::max<qint64>(0, it->last + wait - now);
}

qint64 LoginThrottle::Wait(const QString &user, const QString &address, qint64 now)
{
    std::lock_guard guard(m_lock);
    const qint64 fromAddress = waitFor(QStringLiteral("a:") + address, now);
    const bool failedHere = m_failures.contains(QStringLiteral("p:") + user + u'\n' + address);
    return std::max(fromAddress, failedHere ? waitFor(QStringLiteral("u:") + user, now) : 0);
}

void LoginThrottle::Failed(const QString &user, const QString &address, qint64 now)
{
    std::lock_guard guard(m_lock);
    if (m_failures.size() > 100000)   // many names or addresses: keep only the recent
        m_failures.removeIf([now](const auto &entry) { return now - entry.value().last > windowSeconds; });
    for (const QString &key : {QStringLiteral("a:") + address, QStringLiteral("u:") + user,
                               QStringLiteral("p:") + user + u'\n' + address}) {
        Count &count = m_failures[key];
        count.failures = now - count.last > windowSeconds ? 1 : count.failures + 1;
        count.last = now;
    }
}

void LoginThrottle::Succeeded(const QString &user, const QString &address)
{
    std::lock_guard guard(m_lock);
    m_failures.remove(QStringLiteral("u:") + user);
    m_failures.remove(QStringLiteral("p:") + user + u'\n' + address);
}

std::optional<Caller> FindCaller(Store &store, const QByteArray &cookieSession, const QByteArray &bearer,
                                 const SessionLimits &limits, qint64 now, QString *refusal)
{
    Caller caller;
    QString name;
    if (!bearer.isEmpty()) {
        const auto token = store.FindToken(SecretHash(bearer));
        if (!token)
            return std::nullopt;
        if (token->expires <= now) {
            if (refusal)
                *refusal = QStringLiteral("令牌已于 %1 过期，请用 velvip-server token add 另领一个。")
                               .arg(QDateTime::fromSecsSinceEpoch(token->expires).toString(QStringLiteral("yyyy-MM-dd HH:mm")));
            return std::nullopt;
        }
        name = token->user;
        caller.bearer = true;
    } else if (!cookieSession.isEmpty()) {
        caller.sessionHash = SecretHash(cookieSession);
        const auto session = store.FindSession(caller.sessionHash);
        if (!session)
            return std::nullopt;
        if (now - session->lastSeen > limits.idleSeconds || now - session->created > limits.absoluteSeconds) {
            store.RemoveSession(caller.sessionHash);
            if (refusal)
                *refusal = now - session->lastSeen > limits.idleSeconds
                    ? QStringLiteral("登录已过期：空闲超过 %1 分钟，请重新登录。").arg((limits.idleSeconds + 59) / 60)
                    : QStringLiteral("登录已过期：超过 %1 小时的最长时限，请重新登录。").arg((limits.absoluteSeconds + 3599) / 3600);
            return std::nullopt;
        }
        store.TouchSession(caller.sessionHash, now);
        name = session->user;
        caller.csrf = session->csrf;
    } else {
        return std::nullopt;
    }
    const auto user = store.FindUser(name);
    if (!user || user->disabled)
        return std::nullopt;
    caller.user = *user;
    return caller;
}
