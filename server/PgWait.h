#pragma once

#include <libpq-fe.h>

#include <chrono>

// A client-side bound on every wait for a PostgreSQL server. The server's own limits
// (statement_timeout, keepalives) cannot end a wait on a backend that is stopped (SIGSTOP, a
// frozen VM): its kernel still acknowledges and answers keepalives. Every read of a result
// waits through WaitReadable(), so such a wait ends at the deadline.
class PgDeadline
{
public:
    using Clock = std::chrono::steady_clock;

    // No deadline.
    PgDeadline() = default;
    // `seconds` from now plus a grace that lets the server's own message come first; none for 0.
    static PgDeadline After(int seconds);

    bool IsSet() const { return m_set; }
    bool Passed() const { return m_set && Clock::now() >= m_at; }

    // Reads from the socket until libpq can give the next result without blocking (PQisBusy is
    // false, or the connection failed: PQgetResult then says so). False when the deadline
    // passed first; the connection is then still in the middle of a query.
    bool WaitReadable(PGconn *conn) const;

    // One wait for more input where PQisBusy tells nothing (a COPY's rows), read into libpq's
    // buffer; false when the deadline passed first.
    bool WaitInput(PGconn *conn) const;

    // What is added to the limit before the client gives up on the server.
    static constexpr std::chrono::seconds Grace{2};

private:
    // The poll timeout until the deadline (-1 none, 0 passed), at most a minute.
    int pollMs() const;

    bool m_set = false;
    Clock::time_point m_at;
};
