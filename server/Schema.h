#pragma once

#include <QDate>
#include <QStringList>

#include <optional>

class Database;
class DbDriver;

// The retail schema shared by every engine. Money and points are integer hundredths,
// quantities and conversion rates integer thousandths; date-times are wall-clock times.
namespace Schema {

// The months of a chain whose dated tables (sale_bill, sale_line, card_movement, topup,
// gift_redemption) are range partitions by month of FDate; PostgreSQL only. Days are ignored.
struct MonthlyPartitions
{
    QDate first;
    QDate last;
};

// CREATE TABLE statements in the driver's dialect. With `partitions`, the dated tables are
// partitioned by month, their keys carry FDate (so ids and bill numbers are unique per date,
// not per chain), sale_line gains FDate, the bill's date, as its last column, and the
// partitions of the months given are created by add_month_partitions(first, count), which
// stays in the schema to add later months (with their keys). Throws VelError on SQLite.
QStringList TableStatements(const DbDriver &driver, const std::optional<MonthlyPartitions> &partitions = std::nullopt);
// CREATE INDEX statements, run after bulk loading; on a partitioned chain also the foreign keys
// that keep each line's FDate equal to its bill's, month by month (a bill re-dated within its
// month takes its lines along; moving it to another month is refused while it has lines).
QStringList IndexStatements(const DbDriver &driver, bool partitioned = false);
// Statements that move the dated tables of an unpartitioned PostgreSQL chain, rows included,
// into monthly partitions covering `partitions`, with their indexes; run them in one
// transaction, then BuildLedger (the ledger's triggers belong to the old card_movement).
// Lines whose bill is missing are left behind.
QStringList PartitionStatements(const DbDriver &driver, const MonthlyPartitions &partitions);
// Whether sale_line carries the bill's FDate (a partitioned chain): the sales reports then
// join on it and bound it, so that only the period's partitions are read.
bool HasDatedLines(const Database &db);
// Gives an existing chain's date-time columns (sale_bill, card_movement, topup and
// gift_redemption FDate, member_card FBirthday) the check that new chains have: values in the
// form "yyyy-MM-dd HH:mm:ss" only. Refuses (VelError naming the table) while rows of another
// form are there. Partitions inherit the check from their table. Throws VelError.
void AddDateChecks(const Database &db);
// Creates the indexes the reports need that an older chain lacks; those it has are left
// untouched (no lock is taken on their tables). Throws VelError.
void AddMissingIndexes(const Database &db);
// Tables in dependency order (for counting and clearing in tests).
QStringList TableNames();

// The balance ledger: per card and month, and per card, branch and month, the closing stored
// value, its paid (cash) part and points of the card's movements up to the month's end, and
// per value movement its paid part (card_value_split), kept right by triggers on
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
// Throws, naming upgrade-schema, unless HasLedger.
void RequireLedger(const Database &db);
// The ledger's indexes besides its keys (made with it; AddMissingIndexes adds them to an older one).
QStringList LedgerIndexStatements();

// Kinds of stored-value and points movements: money paid back when a card is returned
// (CashOut), an operator's correction of the value (ValueAdjusted, either sign), value
// written off for an expired or cancelled card (WrittenOff), points that lapsed.
enum MovementKind { TopUp = 1, Payment = 2, Refund = 3, PointsEarned = 4, PointsAdjusted = 5, GiftRedeemed = 6,
                    CashOut = 7, ValueAdjusted = 8, WrittenOff = 9, PointsExpired = 10 };
// The name a ledger shows for a movement kind.
QString MovementKindName(qint64 kind);

} // namespace Schema
