#pragma once

#include "Schema.h"

#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

// A cell of a generated row: null, a whole number or UTF-8 text.
struct DemoCell
{
    enum Type : unsigned char { Null, Int, Text };
    DemoCell() = default;
    DemoCell(int v) : type(Int), i(v) {}
    DemoCell(long long v) : type(Int), i(v) {}
    DemoCell(long v) : type(Int), i(v) {}
    DemoCell(std::string_view v) : type(Text), s(v) {}
    DemoCell(const std::string &v) : type(Text), s(v) {}
    DemoCell(const char *v) : type(Text), s(v) {}

    Type type = Null;
    long long i = 0;
    std::string_view s;
};

// Bulk loading of a generated chain into a new database: tables first, rows in one big
// transaction, indexes last.
class DemoWriter
{
public:
    virtual ~DemoWriter() = default;

    // A SQLite file written directly through the SQLite library (fast path), or the database
    // a PostgreSQL connection text names (must not hold a chain yet), optionally with the
    // dated tables partitioned by month (rows of sale_line then end with their bill's date).
    static std::unique_ptr<DemoWriter> ForSqliteFile(const QString &path);
    static std::unique_ptr<DemoWriter> ForConnection(const QString &connectionText,
                                                     const std::optional<Schema::MonthlyPartitions> &partitions = std::nullopt);

    // Returns a handle for Row().
    virtual int Table(const char *name, int columns) = 0;
    virtual void Row(int table, std::initializer_list<DemoCell> cells) = 0;
    // Commits the rows, builds the indexes and gathers statistics.
    virtual void Finish(const std::function<void(QString)> &progress) = 0;
};
