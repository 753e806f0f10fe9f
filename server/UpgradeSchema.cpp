#include "UpgradeSchema.h"

#include "Database.h"
#include "RowCursor.h"
#include "Schema.h"
#include "VelError.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

const char usage[] =
    "用法：velvip-report upgrade-schema --props 连接字符串\n"
    "  --props 连接字符串   门店数据库（SQLite 或 PostgreSQL）的连接字符串\n"
    "为旧版本建立的门店数据库建立储值积分余额账，储值积分变动表（10901）从此不再读取全部历史。\n"
    "可以重复执行：每次都从变动记录重新建立余额账。\n";

void printErr(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

int usageError(const QString &why)
{
    printErr(QStringLiteral("upgrade-schema: %1\n").arg(why));
    std::fputs(usage, stderr);
    return 2;
}

} // namespace

int UpgradeSchemaMain(const QStringList &args)
{
    QString props;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == u"-h" || args[i] == u"--help") {
            std::fputs(usage, stdout);
            std::fflush(stdout);
            return 0;
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
        try {
            db->Select(QStringLiteral("SELECT count(*) FROM card_movement WHERE 1 = 0"))->Next();
        } catch (const VelError &) {
            throw VelError(QStringLiteral("这不是门店数据库（没有储值积分变动表 card_movement）"));
        }
        if (db->Driver().Name() == u"SQLite") {
            // The build sorts every movement: room for it in memory.
            db->Exec(QStringLiteral("PRAGMA cache_size=-262144"));
            db->Exec(QStringLiteral("PRAGMA temp_store=MEMORY"));
        }
        printErr(QStringLiteral("正在建立储值积分余额账……\n"));
        Schema::BuildLedger(*db);
        auto rows = db->Select(QStringLiteral("SELECT count(*) FROM card_balance_month"));
        const qint64 count = rows->Next() ? rows->Int(0) : 0;
        rows.reset();
        printErr(QStringLiteral("完成：储值积分余额账 %1 行，用时 %2 秒\n")
                     .arg(count).arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1));
    } catch (const VelError &e) {
        printErr(QStringLiteral("upgrade-schema: %1\n").arg(e.Description()));
        return 1;
    }
    return 0;
}
