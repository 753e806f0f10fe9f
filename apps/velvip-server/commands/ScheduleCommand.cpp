#include "ScheduleCommand.h"

#include "Checks.h"
#include "Cron.h"
#include "CommandHelp.h"
#include "FilterText.h"
#include "Scheduler.h"
#include "Store.h"
#include "VelError.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QUrl>

namespace {

int usage(const QString &text)
{
    QTextStream(stderr) << QStringLiteral(
        "velvip-server schedule: %1\n"
        "用法：velvip-server schedule add --report ID [--set KEY=VALUE …] [--period FORM] --format xlsx|pdf|csv\n"
        "          --split branch|none --cron \"M H DOM MON DOW\" [--tz ZONE] (--to-branch-users | --to ADDRESS …)\n"
        "          [--folder DIR] [--store FILE]\n"
        "      velvip-server schedule list [--store FILE]\n"
        "      velvip-server schedule run-now ID [--slot YYYY-MM-DD] [--store FILE]\n"
        "      velvip-server schedule resend ID --slot YYYY-MM-DD [--store FILE]   再次发送失败的时段\n"
        "      velvip-server schedule log ID [--count 50] [--store FILE]\n"
        "      velvip-server schedule disable|enable ID [--store FILE]\n").arg(text);
    return 2;
}

} // namespace

QList<QCommandLineOption> AddDeliveryOptions(QCommandLineParser &parser)
{
    const QList<QCommandLineOption> options{
        {QStringLiteral("smtp"), QStringLiteral("邮件服务器：smtp://HOST:PORT（有 STARTTLS 时使用）或 smtps://HOST:PORT"), QStringLiteral("URL")},
        {QStringLiteral("smtp-user"), QStringLiteral("邮件服务器用户名"), QStringLiteral("NAME")},
        {QStringLiteral("smtp-password-file"), QStringLiteral("从文件读入邮件服务器密码"), QStringLiteral("FILE")},
        {QStringLiteral("smtp-from"), QStringLiteral("发件人地址"), QStringLiteral("ADDRESS")},
        {QStringLiteral("smtp-ca"), QStringLiteral("信任的邮件服务器证书（PEM）"), QStringLiteral("FILE")},
        {QStringLiteral("smtp-timeout"), QStringLiteral("邮件发送每一步（连接、服务器的每个应答、发出内容）最多等待多少秒，默认 120"), QStringLiteral("SECONDS")},
        {QStringLiteral("portal-url"), QStringLiteral("门户地址，附件过大时邮件中给出链接"), QStringLiteral("URL")},
        {QStringLiteral("attach-limit"), QStringLiteral("附件上限（MB），默认 10"), QStringLiteral("MB")},
        {QStringLiteral("catch-up"), QStringLiteral("服务停止期间错过的发送，多少小时内的补发，默认 24；0 为按时发送、不补发"), QStringLiteral("HOURS")},
        {QStringLiteral("retry-seconds"), QStringLiteral("发送暂时失败后第一次重试等待的秒数（此后加倍），默认 60"), QStringLiteral("SECONDS")},
        {QStringLiteral("schedule-poll"), QStringLiteral("多少秒查看一次排队的发送，默认 30"), QStringLiteral("SECONDS")},
        {QStringLiteral("delivery-lease"), QStringLiteral("发送中断后多少秒可由本服务或其他实例接手，默认 900"), QStringLiteral("SECONDS")},
    };
    parser.addOptions(options);
    return options;
}

QString ReadDeliveryOptions(const QCommandLineParser &parser, DeliveryOptions &o)
{
    auto number = [&](const char *name, qint64 fallback, qint64 min, qint64 max, qint64 scale) -> qint64 {
        bool ok = true;
        const qint64 n = parser.isSet(QLatin1String(name)) ? parser.value(QLatin1String(name)).toLongLong(&ok) : fallback;
        return ok && n >= min && n <= max ? n * scale : -1;
    };
    o.smtp.timeoutSeconds = int(number("smtp-timeout", 120, 1, 3600, 1));
    o.attachLimit = number("attach-limit", 10, 0, 1024, 1024 * 1024);
    o.catchUpSeconds = number("catch-up", 24, 0, 24 * 31, 3600);
    o.retrySeconds = number("retry-seconds", 60, 1, 86400, 1);
    o.pollSeconds = number("schedule-poll", 30, 1, 3600, 1);
    o.leaseSeconds = number("delivery-lease", 900, 1, 86400, 1);
    if (o.smtp.timeoutSeconds < 0 || o.attachLimit < 0 || o.catchUpSeconds < 0 || o.retrySeconds < 0 || o.pollSeconds < 0
        || o.leaseSeconds < 0)
        return QStringLiteral("--smtp-timeout 应为 1 到 3600，--attach-limit 0 到 1024，--catch-up 0 到 744，"
                              "--retry-seconds 1 到 86400，--schedule-poll 1 到 3600，--delivery-lease 1 到 86400");
    o.smtp.url = parser.value(QStringLiteral("smtp"));
    const QUrl url(o.smtp.url);
    if (!o.smtp.url.isEmpty()
        && (!url.isValid() || (url.scheme() != u"smtp" && url.scheme() != u"smtps") || url.host().isEmpty()
            || !url.userInfo().isEmpty()))
        return QStringLiteral("--smtp 应为 smtp://HOST:PORT 或 smtps://HOST:PORT（用户名和密码另用 --smtp-user、--smtp-password-file）");
    o.smtp.user = parser.value(QStringLiteral("smtp-user"));
    o.smtp.from = parser.value(QStringLiteral("smtp-from"));
    o.smtp.caFile = parser.value(QStringLiteral("smtp-ca"));
    if (o.smtp.Configured() && o.smtp.from.isEmpty())
        return QStringLiteral("使用 --smtp 时请用 --smtp-from 给出发件人地址");
    if (!o.smtp.from.isEmpty())
        if (const QString wrong = DeliveryCheck::Address(QStringLiteral("--smtp-from "), o.smtp.from); !wrong.isEmpty())
            return wrong;
    if (parser.isSet(QStringLiteral("smtp-password-file"))) {
        QFile file(parser.value(QStringLiteral("smtp-password-file")));
        if (!file.open(QIODevice::ReadOnly) || file.size() > 4096)
            return QStringLiteral("无法读取邮件服务器密码文件 %1").arg(file.fileName());
        o.smtp.password = file.readAll();
        while (o.smtp.password.endsWith('\n') || o.smtp.password.endsWith('\r'))
            o.smtp.password.chop(1);
        if (o.smtp.user.isEmpty())
            return QStringLiteral("--smtp-password-file 要与 --smtp-user 一起给出");
    }
    o.portalUrl = parser.value(QStringLiteral("portal-url"));
    const QUrl portal(o.portalUrl, QUrl::StrictMode);
    if (!o.portalUrl.isEmpty()
        && (!portal.isValid() || (portal.scheme() != u"https" && portal.scheme() != u"http") || portal.host().isEmpty()))
        return QStringLiteral("--portal-url 应为 https://HOST/ 这样的地址");
    return {};
}

int ScheduleMain(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption store{QStringLiteral("store"), QStringLiteral("服务存储文件"), QStringLiteral("FILE")};
    const QCommandLineOption report{QStringLiteral("report"), {}, QStringLiteral("ID")};
    const QCommandLineOption set{QStringLiteral("set"), {}, QStringLiteral("KEY=VALUE")};
    const QCommandLineOption period{QStringLiteral("period"), {}, QStringLiteral("FORM")};
    const QCommandLineOption format{QStringLiteral("format"), {}, QStringLiteral("FORMAT")};
    const QCommandLineOption split{QStringLiteral("split"), {}, QStringLiteral("branch|none")};
    const QCommandLineOption cron{QStringLiteral("cron"), {}, QStringLiteral("TIMING")};
    const QCommandLineOption zone{QStringLiteral("tz"), {}, QStringLiteral("ZONE")};
    const QCommandLineOption toBranch{QStringLiteral("to-branch-users")};
    const QCommandLineOption to{QStringLiteral("to"), {}, QStringLiteral("ADDRESS")};
    const QCommandLineOption folder{QStringLiteral("folder"), {}, QStringLiteral("DIR")};
    const QCommandLineOption slot{QStringLiteral("slot"), {}, QStringLiteral("YYYY-MM-DD")};
    const QCommandLineOption count{QStringLiteral("count"), {}, QStringLiteral("N")};
    const QList<QCommandLineOption> options{store, report, set, period, format, split, cron, zone, toBranch, to, folder, slot, count};
    parser.addOptions(options);
    parser.addPositionalArgument(QStringLiteral("command"), {});
    if (!parser.parse(QStringList{QStringLiteral("schedule")} + args))
        return usage(CommandHelp::ParseError(parser, options));
    const QStringList words = parser.positionalArguments();
    const QString command = words.value(0);
    // Checked before the store is opened, which would create it.
    if (!QStringList{QStringLiteral("add"), QStringLiteral("list"), QStringLiteral("run-now"), QStringLiteral("resend"),
                     QStringLiteral("log"), QStringLiteral("disable"), QStringLiteral("enable")}
             .contains(command))
        return usage(command.isEmpty() ? QStringLiteral("缺少子命令") : QStringLiteral("未知子命令“%1”").arg(command));
    bool idOk = false;
    const qint64 id = words.value(1).toLongLong(&idOk);
    const QStringList withId{QStringLiteral("run-now"), QStringLiteral("resend"), QStringLiteral("log"),
                             QStringLiteral("disable"), QStringLiteral("enable")};
    if (withId.contains(command) && !idOk)
        return usage(QStringLiteral("缺少计划编号"));
    try {
        Store schedules(parser.isSet(store) ? parser.value(store) : Store::DefaultPath());
        QTextStream out(stdout);
        if (command == u"add") {
            Store::Schedule c;
            c.report = parser.value(report).toInt();
            QJsonObject filter;
            for (const QString &pair : parser.values(set)) {
                QString key, value;
                if (!SplitKeyValue(pair, &key, &value))
                    return usage(QStringLiteral("--set 应为 KEY=VALUE，而不是“%1”").arg(pair));
                filter.insert(key, value);
            }
            if (parser.isSet(period))
                filter.insert(QStringLiteral("period"), parser.value(period));
            c.filter = QJsonDocument(filter).toJson(QJsonDocument::Compact);
            c.format = parser.value(format);
            if (parser.value(split) != u"branch" && parser.value(split) != u"none")
                return usage(QStringLiteral("--split 应为 branch 或 none"));
            c.perBranch = parser.value(split) == u"branch";
            if (c.perBranch != parser.isSet(toBranch))
                return usage(QStringLiteral("按分店发送（--split branch）用 --to-branch-users；总部邮件（--split none）用 --to ADDRESS"));
            c.to = parser.values(to);
            c.folder = parser.value(folder);
            c.cron = parser.value(cron);
            c.zone = parser.isSet(zone) ? parser.value(zone) : Cron::DefaultZone();
            c.checkedUntil = QDateTime::currentSecsSinceEpoch();
            Scheduler::Check(c);
            out << schedules.AddSchedule(c) << Qt::endl;
        } else if (command == u"list") {
            for (const Store::Schedule &c : schedules.Schedules())
                out << QJsonDocument(Scheduler::ToJson(c)).toJson(QJsonDocument::Compact) << Qt::endl;
        } else if (withId.contains(command)) {
            const auto c = schedules.FindSchedule(id);
            if (!c)
                throw VelError(QStringLiteral("没有计划 %1").arg(id));
            if (command == u"disable" || command == u"enable") {
                schedules.SetScheduleEnabled(id, command == u"enable");
                return 0;
            }
            if (command == u"log") {
                bool ok = true;
                const int n = parser.isSet(count) ? parser.value(count).toInt(&ok) : 50;
                if (!ok || n < 1 || n > 10000)
                    return usage(QStringLiteral("--count 应为 1 到 10000"));
                // One line per delivery, then one per recipient with the server's answer.
                for (const Store::Delivery &d : schedules.Deliveries(id, n)) {
                    out << d.slot << '\t' << (d.branch.isEmpty() ? QStringLiteral("总部") : d.branch) << '\t'
                        << Store::DeliveryStateName(d.state) << '\t' << d.attempts << '\t'
                        << QString(d.error).replace(u'\n', QStringLiteral(" | ")) << Qt::endl;
                    for (const Store::Recipient &r : schedules.Recipients(d))
                        out << "\t" << r.address << '\t' << Store::DeliveryStateName(r.state) << '\t' << r.reply << Qt::endl;
                }
                return 0;
            }
            if (!c->enabled)
                throw VelError(QStringLiteral("计划 %1 已停用（velvip-server schedule enable %1 重新启用）").arg(id));
            const QDate date = parser.isSet(slot) ? QDate::fromString(parser.value(slot), Qt::ISODate) : QDate();
            if ((parser.isSet(slot) || command == u"resend") && !date.isValid())
                return usage(QStringLiteral("--slot 应为 YYYY-MM-DD"));
            const QString name = Scheduler::SlotOf(*c, date);
            const qint64 at = QDateTime::currentSecsSinceEpoch();
            if (command == u"resend") {
                const int again = schedules.Resend(id, name, at);
                if (!again)
                    throw VelError(QStringLiteral("计划 %1 时段 %2 没有发送失败的邮件").arg(id).arg(name));
                out << QStringLiteral("计划 %1 时段 %2 的失败发送已重新排队（%3 份），运行中的服务会发送。").arg(id).arg(name).arg(again)
                    << Qt::endl;
                return 0;
            }
            const int queued = Scheduler::Queue(schedules, *c, name, at);
            out << (queued ? QStringLiteral("计划 %1 时段 %2 已排队（%3 份），运行中的服务会发送。").arg(id).arg(name).arg(queued)
                           : QStringLiteral("计划 %1 时段 %2 已经排过队或发送过，不再发送（失败的发送用 schedule resend）。")
                                 .arg(id).arg(name))
                << Qt::endl;
        }
        return 0;
    } catch (const VelError &e) {
        QTextStream(stderr) << QStringLiteral("velvip-server schedule: ") << e.Description() << Qt::endl;
        return 1;
    }
}
