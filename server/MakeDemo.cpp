#include "MakeDemo.h"

#include "DemoChain.h"
#include "VelError.h"

#include <QElapsedTimer>

#include <cstdio>

#include <unistd.h>

namespace {

const char usage[] =
    "usage: velvip-report make-demo --out FILE [--props TEXT] [--members N] [--items N]\n"
    "                               [--days N] [--lines-per-day N] [--seed N]\n"
    "  --out FILE        SQLite file to write (replaced when complete)\n"
    "  --props TEXT      connection text of an empty PostgreSQL database to fill instead\n";

void printErr(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

int usageError(const QString &why)
{
    printErr(QStringLiteral("make-demo: %1\n").arg(why));
    std::fputs(usage, stderr);
    return 2;
}

} // namespace

int MakeDemoMain(const QStringList &args)
{
    DemoOptions options;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == u"-h" || arg == u"--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("%1 needs a value").arg(arg));
        const QString value = args[++i];
        auto number = [&](qint32 &target) {
            bool ok = false;
            const qint32 n = value.toInt(&ok);
            if (!ok || n < 1)
                return false;
            target = n;
            return true;
        };
        bool ok = true;
        if (arg == u"--out")
            options.outPath = value;
        else if (arg == u"--props")
            options.connectionText = value;
        else if (arg == u"--members")
            ok = number(options.members);
        else if (arg == u"--items")
            ok = number(options.items);
        else if (arg == u"--days")
            ok = number(options.days);
        else if (arg == u"--lines-per-day")
            ok = number(options.linesPerDay);
        else if (arg == u"--seed")
            options.seed = value.toULongLong(&ok);
        else
            return usageError(QStringLiteral("unknown option %1").arg(arg));
        if (!ok)
            return usageError(QStringLiteral("%1 needs a positive whole number, not \"%2\"").arg(arg, value));
    }
    if (options.outPath.isEmpty() && options.connectionText.isEmpty())
        return usageError(QStringLiteral("--out FILE or --props TEXT is required"));

    QElapsedTimer timer;
    timer.start();
    try {
        // One line rewritten in place on a terminal; otherwise only the summary below.
        const bool terminal = isatty(fileno(stderr));
        DemoChain::Generate(options, [terminal](const QString &step) {
            if (terminal)
                printErr(QStringLiteral("\r\033[K%1").arg(step));
        });
    } catch (const VelError &e) {
        printErr(QStringLiteral("\nmake-demo: %1\n").arg(e.Description()));
        return 1;
    }
    printErr(QStringLiteral("%1完成：%2 至 %3 的数据，%4 天，每天 %5 行销售，用时 %6 秒\n")
                 .arg(isatty(fileno(stderr)) ? QStringLiteral("\r\033[K") : QString(),
                      options.firstDay.toString(Qt::ISODate), options.firstDay.addDays(options.days - 1).toString(Qt::ISODate))
                 .arg(options.days).arg(options.linesPerDay).arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1));
    return 0;
}
