#pragma once

#include <QStringList>

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

// Kinds of stored-value and points movements.
enum MovementKind { TopUp = 1, Payment = 2, Refund = 3, PointsEarned = 4, PointsAdjusted = 5, GiftRedeemed = 6 };
// The name a ledger shows for a movement kind.
QString MovementKindName(qint64 kind);

} // namespace Schema
