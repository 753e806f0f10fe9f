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

bool PgDeadline::WaitReadable(PGconn *conn) const
{
    while (PQisBusy(conn)) {
        int timeoutMs = -1;
        if (m_set) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_at - Clock::now()).count();
            if (left <= 0)
                return false;
            timeoutMs = int(std::min<long long>(left, 60'000));
        }
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
