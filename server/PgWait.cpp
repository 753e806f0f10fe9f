#include "PgWait.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

PgDeadline PgDeadline::After(int seconds)
{
    PgDeadline d;
    if (seconds > 0) {
        d.m_set = true;
        d.m_at = Clock::now() + std::chrono::seconds(seconds) + Grace;
    }
    return d;
}

int PgDeadline::pollMs() const
{
    if (!m_set)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_at - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 60'000));
}

bool PgDeadline::WaitInput(PGconn *conn) const
{
    const int timeoutMs = pollMs();
    if (timeoutMs == 0)
        return false;
    pollfd p{PQsocket(conn), POLLIN, 0};
    if (p.fd >= 0 && ::poll(&p, 1, timeoutMs) > 0)
        PQconsumeInput(conn);    // a failure shows in the next read
    return true;
}

bool PgDeadline::WaitReadable(PGconn *conn) const
{
    while (PQisBusy(conn)) {
        const int timeoutMs = pollMs();
        if (timeoutMs == 0)
            return false;
        pollfd p{PQsocket(conn), POLLIN, 0};
        if (p.fd < 0)
            return true;
        const int rc = ::poll(&p, 1, timeoutMs);
        if (rc < 0 && errno != EINTR)
            return true;
        if (rc > 0 && !PQconsumeInput(conn))
            return true;
    }
    return true;
}
