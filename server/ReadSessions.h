#pragma once

#include <QString>

class Database;

// The pooled read-only session a report reads, for any connection text: when the text names
// hot standbys, the one StandbyChooser picks; otherwise its server's own (Database::ForServer).
namespace ReadSessions {

Database &For(const QString &connectionText);
// Drops the pooled sessions of the text, each of its servers' when it names standbys, so that
// the next use reconnects.
void Release(const QString &connectionText);
// Whether the text's connection works: a server of its own is opened and closed again, standbys
// are chosen among and released. Any thread; throws VelError (without the password).
void Probe(const QString &connectionText);

} // namespace ReadSessions
