#pragma once

#include <QList>
#include <QString>

class Database;

// The server a report session reads when the connection text names hot standbys
// ("Standbys=host:port,host:port;MaxLagSeconds=30"): the next healthy standby in turn, one that
// is down or replays more than MaxLagSeconds behind skipped, the primary (Host, Port) last.
// Standbys take the primary's other keys (database, user, password, limits).
class StandbyChooser
{
public:
    struct Server
    {
        QString address;        // host:port, fit to be shown
        QString text;           // its own connection text, without the standby keys
        bool primary = false;
        QString state;          // "up", "lagging", "down" (Status() only)
        qint64 lagMs = 0;
    };

    static bool Named(const QString &connectionText);
    // Every server of the text, standbys first, the primary last; throws VelError for a standby
    // that is not host:port.
    static QList<Server> Servers(const QString &connectionText);
    // The pooled report session for a text naming standbys.
    static Database &Choose(const QString &connectionText);
    // After a read failed on a session Choose() gave: when it was a standby that lost the session
    // (`lost`) or no longer answers, it is skipped for a while and true says the request may run
    // again elsewhere.
    static bool Failed(const QString &connectionText, bool lost);
    // Each server's state and lag, for a health page.
    static QList<Server> Status(const QString &connectionText);
};
