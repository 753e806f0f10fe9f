#include "Auth.h"

#include "Secrets.h"
#include "VelError.h"

#include <QDateTime>

#include <algorithm>

namespace {

// Counts are kept under the hash of what they count: a row is small whatever name was typed,
// and no typed name (a password in the wrong field, say) is stored.
QString hashed(const QString &key)
{
    return QString::fromLatin1(SecretHash(key.toUtf8()).toHex());
}

QString addressKey(const QString &address)
{
    return hashed(QStringLiteral("a:") + address);
}

QString userKey(const QString &user)
{
    return hashed(QStringLiteral("u:") + user);
}

QString pairKey(const QString &user, const QString &address)
{
    return hashed(QStringLiteral("p:") + user + u'\n' + address);
}

qint64 waitFor(const Store::FailureCount &count, qint64 now)
{
    if (now - count.last > LoginThrottle::windowSeconds || count.failures < LoginThrottle::free)
        return 0;
    const qint64 wait = std::min(LoginThrottle::firstWait << std::min(count.failures - LoginThrottle::free, 20),
                                 LoginThrottle::maxWait);
    // A failure stamped later than now (another instance's clock ahead) counts from now.
    return std::max<qint64>(0, std::min(count.last, now) + wait - now);
}

} // namespace

qint64 LoginThrottle::Wait(const QString &user, const QString &address, qint64 now)
{
    const auto counts = m_store.SignInFailures({addressKey(address), userKey(user), pairKey(user, address)});
    const qint64 fromAddress = waitFor(counts.value(addressKey(address)), now);
    const bool failedHere = counts.contains(pairKey(user, address));
    return std::max(fromAddress, failedHere ? waitFor(counts.value(userKey(user)), now) : 0);
}

void LoginThrottle::Failed(const QString &user, const QString &address, qint64 now)
{
    m_store.AddSignInFailure({addressKey(address), userKey(user), pairKey(user, address)}, now, windowSeconds);
}

void LoginThrottle::Succeeded(const QString &user, const QString &address)
{
    m_store.RemoveSignInFailures({userKey(user), pairKey(user, address)});
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
