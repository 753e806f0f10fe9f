#pragma once

#include <QString>
#include <QStringView>

struct sqlite3;

// Text folded for "contains" matching, the same on every engine whatever the server's locale:
// Unicode lowercase, then the letters that case folding joins but lowercase keeps apart
// (ς and σ, ſ and s, ϐ and β, ...), then full-width Latin letters and digits as their ASCII
// forms. The user's text is folded here; each engine folds the column the same way.
namespace TextFold {

QString Fold(QStringView text);

// Registers vel_fold(text), Fold as an SQL function, on an SQLite connection.
void RegisterSqlite(sqlite3 *db);

// A PostgreSQL expression of `expr` folded like Fold. With `icu` the lowercase is ICU's root
// locale (collation "und-x-icu"); without, a character map built from the same Unicode data
// stands in for it. Pure ASCII text takes a byte-wise shortcut.
QString PostgresSql(const QString &expr, bool icu);

} // namespace TextFold
