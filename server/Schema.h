#pragma once

#include <QStringList>

class Database;
class DbDriver;

// The retail schema shared by every engine. Money and points are integer hundredths,
// quantities and conversion rates integer thousandths; date-times are wall-clock times.
namespace Schema {

// CREATE TABLE statements in the driver's dialect.
QStringList TableStatements(const DbDriver &driver);
// CREATE INDEX statements, run after bulk loading.
QStringList IndexStatements(const DbDriver &driver);
// Tables in dependency order (for counting and clearing in tests).
QStringList TableNames();

// The balance ledger: per card and month, and per card, branch and month, the closing stored
// value and points of the card's movements up to the month's end, kept right by triggers on
// card_movement. These statements (re)build it from the movements and create the triggers;
// run them in one transaction, after bulk loading (or before any movement is written).
QStringList LedgerStatements(const DbDriver &driver);
// Drops the ledger tables and triggers (a chain reads its movements again).
QStringList DropLedgerStatements(const DbDriver &driver);
// Statistics (and on PostgreSQL the visibility map) for the ledger, outside a transaction.
QStringList LedgerUpkeepStatements(const DbDriver &driver);
// Runs LedgerStatements in one transaction, then LedgerUpkeepStatements, on a session that
// may write. Throws VelError.
void BuildLedger(const Database &db);
// Whether the ledger and its triggers are all in place (a chain made before them has none).
bool HasLedger(const Database &db);

// Kinds of stored-value and points movements.
enum MovementKind { TopUp = 1, Payment = 2, Refund = 3, PointsEarned = 4, PointsAdjusted = 5, GiftRedeemed = 6 };
// The name a ledger shows for a movement kind.
QString MovementKindName(qint64 kind);

} // namespace Schema
