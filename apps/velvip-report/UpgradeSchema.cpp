#include "UpgradeSchema.h"

#include "CommandText.h"
#include "Database.h"
#include "RowCursor.h"
#include "Schema.h"
#include "VelError.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

const char usage[] =
    "用法：velvip-report upgrade-schema --props 连接字符串 [--partition-by-month]\n"
    "  --props 连接字符串     门店数据库（SQLite 或 PostgreSQL）的连接字符串\n"
    "  --partition-by-month   （仅 PostgreSQL）把销售单、销售行、储值积分变动、充值和礼品兑换\n"
    "                         改为按月分区，分区覆盖已有数据的各月直到今后 12 个月\n"
    "为旧版本建立的门店数据库建立储值积分余额账，储值积分变动表（10901）从此不再读取全部历史。\n"
    "并为各表的日期时间列加上格式检查：此后只接受 yyyy-MM-dd HH:mm:ss 形式的值；补建报表所需而缺少的索引。\n"
    "可以重复执行：每次都从变动记录重新建立余额账。\n";

using CommandText::PrintErr;

int usageError(const QString &why)
{
    return CommandText::UsageError("upgrade-schema", usage, why);
}

// Moves the dated tables into monthly partitions from the first month with data to twelve
// months after the later of the last one and today.
void partitionByMonth(const Database &db)
{
    if (db.Driver().Name() == u"SQLite")
        throw VelError(QStringLiteral("按月分区只适用于 PostgreSQL 数据库"));
    if (Schema::HasDatedLines(db))
        throw VelError(QStringLiteral("这个门店数据库已经按月分区"));
    auto range = db.Select(QStringLiteral(
        "SELECT to_char(LEAST(%1), 'YYYY-MM-DD'), to_char(GREATEST(%2), 'YYYY-MM-DD')")
                               .arg(QStringLiteral("(SELECT min(FDate) FROM sale_bill), (SELECT min(FDate) FROM card_movement), "
                                                   "(SELECT min(FDate) FROM topup), (SELECT min(FDate) FROM gift_redemption), "
                                                   "LOCALTIMESTAMP"),
                                    QStringLiteral("(SELECT max(FDate) FROM sale_bill), (SELECT max(FDate) FROM card_movement), "
                                                   "(SELECT max(FDate) FROM topup), (SELECT max(FDate) FROM gift_redemption), "
                                                   "LOCALTIMESTAMP")));
    if (!range->Next())
        throw VelError(QStringLiteral("无法读取数据的日期范围"));
    const Schema::MonthlyPartitions months{QDate::fromString(range->Text(0).toString(), Qt::ISODate),
                                           QDate::fromString(range->Text(1).toString(), Qt::ISODate).addMonths(12)};
    range.reset();
    PrintErr(QStringLiteral("正在把数据移入 %1 至 %2 的按月分区……\n")
                 .arg(months.first.toString(QStringLiteral("yyyy-MM")), months.last.toString(QStringLiteral("yyyy-MM"))));
    db.ExecAll(Schema::PartitionStatements(db.Driver(), months));
    for (const char *table : {"sale_bill", "sale_line", "card_movement", "topup", "gift_redemption"})
        db.Exec(QStringLiteral("VACUUM (ANALYZE) %1").arg(QLatin1String(table)));
}

} // namespace

int UpgradeSchemaMain(const QStringList &args)
{
    QString props;
    bool partition = false;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == u"-h" || args[i] == u"--help") {
            std::fputs(usage, stdout);
            std::fflush(stdout);
            return 0;
        }
        if (args[i] == u"--partition-by-month") {
            partition = true;
            continue;
        }
        if (args[i] != u"--props")
            return usageError(QStringLiteral("未知选项 %1").arg(args[i]));
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("--props 需要一个连接字符串"));
        props = args[++i];
    }
    if (props.trimmed().isEmpty())
        return usageError(QStringLiteral("必须用 --props 指定数据库连接字符串"));

    QElapsedTimer timer;
    timer.start();
    try {
        const std::unique_ptr<Database> db = Database::OpenForWriting(props);
        // Ctrl+C stops the running statement; the transaction it was in rolls back.
        const Database::Request request(*db);
        try {
            db->Select(QStringLiteral("SELECT count(*) FROM card_movement WHERE 1 = 0"))->Next();
        } catch (const VelError &) {
            throw VelError(QStringLiteral("这不是门店数据库（没有储值积分变动表 card_movement）"));
        }
        if (db->Driver().Name() == u"SQLite") {
            // The build sorts every movement: room for it in memory.
            db->Exec(QStringLiteral("PRAGMA cache_size=-262144"));
            db->Exec(QStringLiteral("PRAGMA temp_store=MEMORY"));
        } else {
            // The server's notes ("…does not exist, skipping") are not for the user.
            db->Exec(QStringLiteral("SET client_min_messages = warning"));
        }
        if (partition)
            partitionByMonth(*db);
        PrintErr(QStringLiteral("正在建立储值积分余额账……\n"));
        Schema::BuildLedger(*db);
        // After the ledger: adding a check waits for the transactions reading its table.
        PrintErr(QStringLiteral("正在为日期时间列加上格式检查……\n"));
        Schema::AddDateChecks(*db);
        PrintErr(QStringLiteral("正在补建报表所需的索引……\n"));
        Schema::AddMissingIndexes(*db);
        auto rows = db->Select(QStringLiteral("SELECT count(*) FROM card_balance_month"));
        const qint64 count = rows->Next() ? rows->Int(0) : 0;
        rows.reset();
        PrintErr(QStringLiteral("完成：储值积分余额账 %1 行，用时 %2 秒\n")
                     .arg(count).arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1));
    } catch (const VelError &e) {
        if (!Database::Stopping())   // a stopped command says so once, where it ends
            PrintErr(QStringLiteral("upgrade-schema: %1\n").arg(e.Description()));
        return 1;
    }
    return 0;
}
