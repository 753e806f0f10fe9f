#pragma once

#include <QDate>
#include <QString>

#include <functional>

// The size and shape of a generated chain.
struct DemoOptions
{
    // Accepted ranges: enough for a large chain over twenty years, small enough that a
    // generation always ends and fits in memory.
    static constexpr qint32 MaxMembers = 2000000;
    static constexpr qint32 MaxItems = 1000000;
    static constexpr qint32 MaxDays = 7305;
    static constexpr qint32 MaxLinesPerDay = 100000;
    static constexpr qint64 MaxLines = 200000000;    // days x lines per day
    static constexpr qint32 MaxBranches = 999;       // store numbers stay three digits

    QString outPath;            // SQLite file to write (replaced atomically)
    QString connectionText;     // when set: a PostgreSQL database to fill instead
    qint32 branches = 8;        // stores; each has a warehouse, five staff and two POS
    qint32 members = 3000;
    qint32 items = 1500;
    qint32 days = 730;
    qint32 linesPerDay = 400;
    quint64 seed = 20240101;
    // Fixed so that code and tests get the same chain every day; make-demo without --start
    // and the embedded chain end yesterday instead.
    QDate firstDay = QDate(2024, 1, 1);
    // PostgreSQL only: the dated tables as monthly partitions covering the chain's days.
    bool partitioned = false;

    // `branches` stores with members, items and daily sale lines in proportion to the
    // default eight-store chain (the rest as it is).
    void ScaleTo(qint32 stores);
};

// A whole retail chain — sites, staff, members, items, sales, top-ups, points and gifts —
// generated deterministically from a seed, with card movements that agree with the sales.
class DemoChain
{
public:
    using Progress = std::function<void(QString)>;

    // Throws VelError on bad options or a failed write, and Vel::Cancelled()
    // after Database::StopAll(); nothing half made is left either way.
    static void Generate(const DemoOptions &options, const Progress &progress = {});

    // The embedded chain: from 2024-01-01, the day the fixed examples start, to yesterday.
    static DemoOptions DefaultOptions(QDate today = QDate::currentDate());
    // AppDataLocation/demo-chain.sqlite
    static QString DefaultDatabasePath();
    // Generates the default chain on first use, and again on a later day so that it ends
    // yesterday; returns its connection text.
    static QString EnsureDefaultDatabase(const Progress &progress = {});
    // The connection text for a SQLite file.
    static QString SqliteConnectionText(const QString &path);

private:
    static void generate(const DemoOptions &options, const Progress &progress);
};
