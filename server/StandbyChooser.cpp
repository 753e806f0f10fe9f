#include "StandbyChooser.h"

#include "ConnectionText.h"
#include "Database.h"
#include "RowCursor.h"
#include "VelError.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QThread>

#include <mutex>

namespace {

// A standby that failed is not tried again for this long.
constexpr qint64 downMs = 10000;
// How long a standby with WAL still to replay is watched before it counts as lagging.
constexpr qint64 catchUpMs = 300;
constexpr int catchUpPollMs = 20;

struct Memory
{
    std::mutex lock;
    QHash<QString, qint64> downUntil;       // server text -> ms since epoch
    QHash<QString, QString> lastStandby;    // connection text -> server text Choose() gave
    QHash<QString, unsigned> turn;          // connection text -> next standby
};

Memory &memory()
{
    static auto *m = new Memory;
    return *m;
}

qint64 now() { return QDateTime::currentMSecsSinceEpoch(); }

// How far behind the primary a session's server replays, 0 on a primary. WAL received but not
// yet replayed is watched for a moment: a standby that replays it at once (the first WAL after an
// idle while) lags by that moment, not by the idle time since its last replayed commit; one that
// does not lags by the time since that commit.
qint64 lagMs(const Database &db)
{
    auto state = db.Select(QStringLiteral(
        "SELECT CASE WHEN pg_is_in_recovery() THEN 1 ELSE 0 END, CAST(pg_last_wal_receive_lsn() AS text),"
        " CAST(pg_last_wal_replay_lsn() AS text),"
        " COALESCE(CAST(EXTRACT(EPOCH FROM now() - pg_last_xact_replay_timestamp()) * 1000 AS bigint), 0)"));
    if (!state->Next() || state->Int(0) == 0)
        return 0;
    const QString received = state->TextOrNull(1).toString();
    const bool replayed = received == state->TextOrNull(2);
    const qint64 sinceCommit = state->Int(3);
    state->Next();
    if (replayed || received.isEmpty())
        return replayed ? 0 : sinceCommit;
    QElapsedTimer waited;
    waited.start();
    do {
        QThread::msleep(catchUpPollMs);
        auto caught = db.Select(QStringLiteral("SELECT CASE WHEN pg_last_wal_replay_lsn() >= CAST(? AS pg_lsn) THEN 1 ELSE 0 END"),
                                {received});
        const bool done = caught->Next() && caught->Int(0) == 1;
        caught->Next();
        if (done)
            return waited.elapsed();
    } while (waited.elapsed() < catchUpMs);
    return sinceCommit + waited.elapsed();
}

// The lag is asked on a session of its own with a short limit, so that a standby that stopped
// answering (a frozen machine still acknowledges packets and keepalives) is found within
// seconds, not after the reports' Timeout. A later key wins, so this overrides the text's own.
QString probeText(const QString &server)
{
    return server + QStringLiteral(";Timeout=3");
}

// The server's lag through its probe session; throws VelError when it does not answer in time,
// the probe session then released.
qint64 probedLagMs(const QString &server)
{
    try {
        return lagMs(Database::ForServer(probeText(server)));
    } catch (const VelError &) {
        Database::ReleaseServer(probeText(server));
        throw;
    }
}

int maxLagMs(const QString &text)
{
    return ConnectionText::Parse(text).Seconds(QStringLiteral("MaxLagSeconds"), 30) * 1000;
}

} // namespace

bool StandbyChooser::Named(const QString &connectionText)
{
    return !ConnectionText::Parse(connectionText).Value(QStringLiteral("Standbys")).trimmed().isEmpty();
}

QList<StandbyChooser::Server> StandbyChooser::Servers(const QString &connectionText)
{
    const ConnectionText parsed = ConnectionText::Parse(connectionText);
    // A later pair wins over an earlier one: the server's text is the primary's with its own
    // address and no standbys.
    auto server = [&](const QString &host, const QString &port, bool primary) {
        const QString own = ConnectionText::Make({{QStringLiteral("Standbys"), QString()},
                                                  {QStringLiteral("Host"), host},
                                                  {QStringLiteral("Port"), port}});
        return Server{host + u':' + port, connectionText + u';' + own, primary, {}, 0};
    };
    QList<Server> servers;
    for (const QString &item : parsed.Value(QStringLiteral("Standbys")).split(u',', Qt::SkipEmptyParts)) {
        const QString entry = item.trimmed();
        const qsizetype colon = entry.lastIndexOf(u':');
        bool ok = colon > 0;
        const int port = ok ? entry.mid(colon + 1).toInt(&ok) : 0;
        if (!ok || port <= 0 || port > 65535)
            throw VelError(QStringLiteral("连接串中的备库“%1”应写成 主机:端口").arg(parsed.Shown(entry)));
        servers.append(server(entry.left(colon), QString::number(port), false));
    }
    servers.append(server(parsed.Host(), QString::number(parsed.Port(5432)), true));
    return servers;
}

Database &StandbyChooser::Choose(const QString &connectionText)
{
    const QList<Server> servers = Servers(connectionText);
    const qsizetype standbys = servers.size() - 1;
    const int limit = maxLagMs(connectionText);
    Memory &m = memory();
    unsigned first;
    {
        std::lock_guard guard(m.lock);
        first = m.turn[connectionText]++;
    }
    for (qsizetype i = 0; i < standbys; ++i) {
        const Server &s = servers[(first + i) % standbys];
        {
            std::lock_guard guard(m.lock);
            if (m.downUntil.value(s.text) > now())
                continue;
        }
        try {
            if (const qint64 lag = probedLagMs(s.text); limit > 0 && lag > limit)
                continue;
            Database &db = Database::ForServer(s.text);
            std::lock_guard guard(m.lock);
            m.lastStandby.insert(connectionText, s.text);
            return db;
        } catch (const VelError &) {
            // Down or refusing: skipped for a while; its words may repeat the connection's names.
            Database::ReleaseServer(s.text);
            std::lock_guard guard(m.lock);
            m.downUntil.insert(s.text, now() + downMs);
        }
    }
    {
        std::lock_guard guard(m.lock);
        m.lastStandby.remove(connectionText);
    }
    return Database::ForServer(servers.last().text);
}

bool StandbyChooser::Failed(const QString &connectionText, bool lost)
{
    Memory &m = memory();
    QString standby;
    {
        std::lock_guard guard(m.lock);
        standby = m.lastStandby.take(connectionText);
    }
    if (standby.isEmpty())
        return false;
    Database::ReleaseServer(standby);
    // A standby that still answers was not the cause of other failures (a bad filter, a
    // timeout). A lost session is its cause even so: a standby that is shutting down answers a
    // probe until its postmaster has told every session to end.
    if (!lost) {
        try {
            probedLagMs(standby);
            return false;
        } catch (const VelError &) {
        }
    }
    Database::ReleaseServer(probeText(standby));
    std::lock_guard guard(m.lock);
    m.downUntil.insert(standby, now() + downMs);
    return true;
}

QList<StandbyChooser::Server> StandbyChooser::Status(const QString &connectionText)
{
    QList<Server> servers = Servers(connectionText);
    const int limit = maxLagMs(connectionText);
    for (Server &s : servers) {
        try {
            s.lagMs = probedLagMs(s.text);
            s.state = limit > 0 && s.lagMs > limit ? QStringLiteral("lagging") : QStringLiteral("up");
        } catch (const VelError &) {
            Database::ReleaseServer(s.text);
            s.state = QStringLiteral("down");
        }
    }
    return servers;
}
