#include "ReadSessions.h"

#include "Database.h"
#include "StandbyChooser.h"
#include "VelError.h"

namespace ReadSessions {

Database &For(const QString &connectionText)
{
    if (StandbyChooser::Named(connectionText))
        return StandbyChooser::Choose(connectionText);
    return Database::ForServer(connectionText);
}

void Release(const QString &connectionText)
{
    if (!StandbyChooser::Named(connectionText)) {
        Database::ReleaseServer(connectionText);
        return;
    }
    try {
        for (const StandbyChooser::Server &s : StandbyChooser::Servers(connectionText))
            Database::ReleaseServer(s.text);
    } catch (const VelError &) {
        // A malformed standby list never opened a session.
    }
}

void Probe(const QString &connectionText)
{
    if (!StandbyChooser::Named(connectionText)) {
        Database::ProbeServer(connectionText);
        return;
    }
    For(connectionText);
    Release(connectionText);
}

} // namespace ReadSessions
