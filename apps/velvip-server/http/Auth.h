#pragma once

#include "Store.h"

#include <QByteArray>
#include <QString>

#include <mutex>
#include <optional>

// Sessions, bearer tokens and the throttle on failed sign-ins; their secrets are made in Secrets.h.

// Failed sign-ins slow further tries down, never lock anyone out: per address, and per user
// name from the addresses that failed for that name. Past `free` failures each one doubles the
// wait (5 s, 10 s, 20 s … at most maxWait); counts are forgotten a window after the last failure.
// An address that never failed for a user is never held back for that user. The counts live in
// the store, so that instances sharing it (behind one balancer) and a restart count alike.
class LoginThrottle
{
public:
    static constexpr int free = 5;
    static constexpr qint64 firstWait = 5;
    static constexpr qint64 maxWait = 15 * 60;
    static constexpr qint64 windowSeconds = 15 * 60;
    explicit LoginThrottle(Store &store) : m_store(store) {}
    // Seconds to wait before the next try; 0 when a try is allowed now.
    qint64 Wait(const QString &user, const QString &address, qint64 now);
    void Failed(const QString &user, const QString &address, qint64 now);
    void Succeeded(const QString &user, const QString &address);

private:
    Store &m_store;   // per address, user, and user at an address (each key hashed)
};

// Who a request comes from.
struct Caller
{
    Store::User user;
    bool bearer = false;   // a token: no cookie, so no CSRF token either
    QByteArray sessionHash;
    QByteArray csrf;
};

struct SessionLimits
{
    qint64 idleSeconds = 30 * 60;
    qint64 absoluteSeconds = 12 * 60 * 60;
};

// The signed-in user of a cookie's session or a bearer token; nothing when neither is valid,
// expired, or the user was disabled. `refusal` gets the sentence for an expired session or token.
std::optional<Caller> FindCaller(Store &store, const QByteArray &cookieSession, const QByteArray &bearer,
                                 const SessionLimits &limits, qint64 now, QString *refusal = nullptr);
