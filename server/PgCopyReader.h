#pragma once

#include "PgWait.h"
#include "RowCursor.h"

#include <QByteArray>
#include <QString>

#include <libpq-fe.h>

#include <functional>
#include <memory>
#include <vector>

// Report reads on PostgreSQL with values in the server's binary form, read in place. A query
// with values to bind runs through the extended protocol with them as parameters, so that the
// planner sees them (partitions pruned while planning), one result per row; a query with none
// runs as COPY (query) TO STDOUT (FORMAT binary), one message per row and no result object.
namespace PgCopyReader {

// What the driver gives a read: its deadline and what to do when something fails.
struct Session
{
    PgDeadline deadline;                            // every wait of the read ends by it
    std::function<void(const PGresult *)> fail;     // throws a statement's error (null: the connection's)
    std::function<void()> abandon;                  // cuts a connection that stopped answering
    std::function<QString()> timeoutText;           // why, once the deadline passed
};

// Parameter values in text form as libpq takes them; a null pointer is SQL NULL, a type of 0 is
// left for the server to infer.
struct Params
{
    std::vector<QByteArray> values;
    std::vector<const char *> pointers;
    std::vector<Oid> types;
};

// `sql` with each `?` outside quoted text and names replaced by `param(n)`, n from 1.
QByteArray Numbered(const QString &sql, const std::function<QByteArray(int)> &param);

// Reads, without waiting, what has arrived of the command in flight on `conn`: true when that
// was all of it. A cursor left early then needs no cancel request, which could otherwise reach
// the server after the command ended and stop the next one.
bool ReadArrived(PGconn *conn);

// Asks the server to stop the query running on `conn` (a cursor left before its end).
void CancelRunning(PGconn *conn);

// A number sent as text ("t" for true, a numeric's fraction dropped).
qint64 TextInt(const char *text);

// The rows of `sql` (`?` placeholders), or null when it is not a SELECT or WITH query or a
// column has a type this reader does not decode: the caller then reads the rows another way.
// Throws VelError when a statement fails.
std::unique_ptr<RowCursor> Open(PGconn *conn, const QString &sql, const Params &params, const Session &session);

} // namespace PgCopyReader
