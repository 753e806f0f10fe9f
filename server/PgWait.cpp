#include "PgWait.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <future>
#include <memory>
#include <system_error>
#include <thread>

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

bool PgCancelAside(PGconn *conn, std::chrono::milliseconds wait)
{
    PGcancel *cancel = PQgetCancel(conn);
    if (!cancel)
        return false;
    auto sent = std::make_shared<std::promise<void>>();
    std::future<void> done = sent->get_future();
    const auto send = [cancel, sent] {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
        sent->set_value();
    };
    try {
        std::thread(send).detach();
    } catch (const std::system_error &) {
        send();   // no thread to spare: wait as before
    }
    return done.wait_for(wait) == std::future_status::ready;
}
