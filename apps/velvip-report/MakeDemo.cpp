#include "MakeDemo.h"

#include "CommandText.h"
#include "Database.h"
#include "DemoChain.h"
#include "VelError.h"

#include <QElapsedTimer>

#include <cstdio>
#include <utility>

#include <unistd.h>

namespace {

const char usage[] =
    "用法：velvip-report make-demo --out 文件 [--props 连接字符串] [--branches N] [--members N] [--items N]\n"
    "                               [--start 日期] [--days N] [--lines-per-day N] [--seed N] [--partitioned]\n"
    "  --out 文件            要写入的 SQLite 文件（生成完成后才替换）\n"
    "  --props 连接字符串    改为填充这个空的 PostgreSQL 数据库\n"
    "  --partitioned         （仅 PostgreSQL）销售单、销售行、储值积分变动、充值和礼品兑换按月分区\n"
    "  --branches N          门店数，1 到 999（默认 8）；每店一个仓库、五名员工和两台 POS，\n"
    "                        未给出的会员数、商品数和每天销售行数随门店数同比例增减\n"
    "  --members N           会员数，1 到 2000000（默认 3000）\n"
    "  --items N             商品数，1 到 1000000（默认 1500）\n"
    "  --start 日期          第一天，写成 YYYY-MM-DD（默认 2024-01-01；只给 --days 时使数据截止到昨天）\n"
    "  --days N              天数，1 到 7305（默认到昨天为止，与内置演示数据库相同；给出 --start 时默认 730）\n"
    "  --lines-per-day N     每天销售行数，1 到 100000（默认 400）；天数乘每天行数最多 200000000\n"
    "  --seed N              随机种子，0 到 18446744073709551615（默认 20240101）\n";

using CommandText::PrintErr;

int usageError(const QString &why)
{
    return CommandText::UsageError("make-demo", usage, why);
}

} // namespace

int MakeDemoMain(const QStringList &args)
{
    DemoOptions options;
    QDate start;
    bool daysGiven = false;
    qint32 branches = 0;
    QStringList given;   // the options that set a size
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == u"-h" || arg == u"--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == u"--partitioned") {
            options.partitioned = true;
            continue;
        }
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("%1 缺少取值").arg(arg));
        const QString value = args[++i];
        // A whole number in [1, max]; anything else is refused with the option's range.
        auto number = [&](qint32 &target, qint32 max) {
            bool ok = false;
            const qint64 n = value.trimmed().toLongLong(&ok);
            if (!ok || n < 1 || n > max)
                return usageError(QStringLiteral("%1 必须是 1 到 %2 之间的整数，不能是“%3”").arg(arg).arg(max).arg(value));
            target = qint32(n);
            return 0;
        };
        int refused = 0;
        given << arg;
        if (arg == u"--out")
            options.outPath = value;
        else if (arg == u"--props")
            options.connectionText = value;
        else if (arg == u"--branches")
            refused = number(branches, DemoOptions::MaxBranches);
        else if (arg == u"--members")
            refused = number(options.members, DemoOptions::MaxMembers);
        else if (arg == u"--items")
            refused = number(options.items, DemoOptions::MaxItems);
        else if (arg == u"--days") {
            refused = number(options.days, DemoOptions::MaxDays);
            daysGiven = true;
        }
        else if (arg == u"--lines-per-day")
            refused = number(options.linesPerDay, DemoOptions::MaxLinesPerDay);
        else if (arg == u"--start") {
            start = QDate::fromString(value.trimmed(), Qt::ISODate);
            if (!start.isValid())
                refused = usageError(QStringLiteral("--start 必须是 YYYY-MM-DD 形式的日期，不能是“%1”").arg(value));
        } else if (arg == u"--seed") {
            bool ok = false;
            options.seed = value.trimmed().toULongLong(&ok);
            if (!ok)
                refused = usageError(QStringLiteral("--seed 必须是 0 到 18446744073709551615 之间的整数，不能是“%1”").arg(value));
        } else {
            return usageError(QStringLiteral("未知选项 %1").arg(arg));
        }
        if (refused)
            return refused;
    }
    if (branches) {
        DemoOptions scaled;
        scaled.ScaleTo(branches);
        options.branches = branches;
        for (auto [option, size] : {std::pair{"--members", &DemoOptions::members}, {"--items", &DemoOptions::items},
                                    {"--lines-per-day", &DemoOptions::linesPerDay}}) {
            if (!given.contains(QLatin1String(option)))
                options.*size = scaled.*size;
        }
    }
    // The same days as the embedded demo chain unless told otherwise, so that the examples of
    // the help (--period 2024-05) find data on either.
    if (!start.isValid() && !daysGiven) {
        const DemoOptions defaults = DemoChain::DefaultOptions();
        options.firstDay = defaults.firstDay;
        options.days = defaults.days;
    } else {
        options.firstDay = start.isValid() ? start : QDate::currentDate().addDays(-options.days);
    }
    if (qint64(options.days) * options.linesPerDay > DemoOptions::MaxLines)
        return usageError(QStringLiteral("--days 乘 --lines-per-day 最多 %1（现在是 %2）")
                              .arg(DemoOptions::MaxLines).arg(qint64(options.days) * options.linesPerDay));
    if (options.outPath.isEmpty() && options.connectionText.isEmpty())
        return usageError(QStringLiteral("必须用 --out 指定文件，或用 --props 指定 PostgreSQL 数据库"));
    if (options.partitioned && options.connectionText.isEmpty())
        return usageError(QStringLiteral("--partitioned 只适用于用 --props 指定的 PostgreSQL 数据库"));

    QElapsedTimer timer;
    timer.start();
    try {
        // One line rewritten in place on a terminal; otherwise only the summary below.
        const bool terminal = isatty(fileno(stderr));
        DemoChain::Generate(options, [terminal](const QString &step) {
            if (terminal)
                PrintErr(QStringLiteral("\r\033[K%1").arg(step));
        });
    } catch (const VelError &e) {
        if (!Database::Stopping())   // a stopped command says so once, where it ends
            PrintErr(QStringLiteral("\nmake-demo: %1\n").arg(e.Description()));
        return 1;
    }
    PrintErr(QStringLiteral("%1完成：%2 至 %3 的数据，%4 天，每天 %5 行销售，用时 %6 秒\n")
                 .arg(isatty(fileno(stderr)) ? QStringLiteral("\r\033[K") : QString(),
                      options.firstDay.toString(Qt::ISODate), options.firstDay.addDays(options.days - 1).toString(Qt::ISODate))
                 .arg(options.days).arg(options.linesPerDay).arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1));
    return 0;
}
