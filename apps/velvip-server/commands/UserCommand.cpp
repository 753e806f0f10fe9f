#include "UserCommand.h"

#include "ChainOptions.h"
#include "Checks.h"
#include "CommandHelp.h"
#include "ReportSession.h"
#include "Secrets.h"
#include "Store.h"
#include "VelError.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QTextStream>

namespace {

constexpr int kMinPassword = 8;
constexpr int kTokenDays = 90;

int usage(const QString &text)
{
    QTextStream(stderr) << QStringLiteral("velvip-server: %1\n用法：velvip-server user add NAME --password-stdin "
                                          "(--head-office | --branch NUMBER CHAIN) [--email ADDRESS] [--store STORE]\n"
                                          "      velvip-server user passwd NAME --password-stdin [--store STORE]\n"
                                          "      velvip-server user disable|delete NAME [--store STORE]\n"
                                          "      velvip-server user move NAME (--head-office | --branch NUMBER CHAIN) [--store STORE]\n"
                                          "      velvip-server user list [--store STORE]\n"
                                          "      velvip-server token add NAME [--days 90] [--store STORE]\n"
                                          "      velvip-server token revoke NUMBER [--store STORE]\n"
                                          "      velvip-server token list [--store STORE]\n"
                                          "STORE 是存储文件，或 PostgreSQL 连接文本（可加 Schema=NAME，默认 velvip_service）。\n"
                                          "CHAIN 是 --db FILE、--props TEXT 或 --props-file FILE：分店编号要在连锁数据库中核对。\n")
                               .arg(text);
    return 2;
}

// One line from standard input, without its line end; never echoed or logged.
QByteArray passwordFromStdin()
{
    QFile in;
    in.open(stdin, QIODevice::ReadOnly);
    QByteArray line = in.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.size() < kMinPassword)
        throw VelError(QStringLiteral("密码至少要有 %1 个字符（从标准输入读入一行）。").arg(kMinPassword));
    return line;
}

// The name of an existing branch of the chain with this number; throws VelError otherwise.
QString existingBranch(const QString &chain, const QString &number)
{
    ReportSession::RegisterComponents();
    ReportSession::PublishContext(ReportSession::DefaultContext());
    ReportSession::SetPropsString(chain);
    const QString name = ReportSession::BranchName(number);
    if (name.isEmpty())
        throw VelError(QStringLiteral("连锁数据库中没有编号为“%1”的分店").arg(number));
    return name;
}

// The branch `user add` and `user move` give a user: empty for head office, else a number the
// chain has (never made head office by an empty number). A usage error goes to `refusal`; a
// number the chain lacks throws.
QString chosenBranch(const QCommandLineParser &parser, const ChainOptions &chainOptions, QString &refusal)
{
    if (!parser.isSet(QStringLiteral("branch")))
        return {};
    const QString given = parser.value(QStringLiteral("branch"));
    refusal = DeliveryCheck::Branch(QStringLiteral("--branch "), given);
    const QString number = given.trimmed();
    if (refusal.isEmpty() && number.isEmpty())
        refusal = QStringLiteral("--branch 要给出分店编号");
    const QString chain = refusal.isEmpty() ? chainOptions.Text(parser) : QString();
    if (refusal.isEmpty() && chain.isEmpty())
        refusal = QStringLiteral("分店编号要在连锁数据库中核对：请加 --db FILE、--props TEXT 或 --props-file FILE");
    if (refusal.isEmpty())
        existingBranch(chain, number);
    return number;
}

} // namespace

int UserMain(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption store{QStringLiteral("store"), QStringLiteral("服务存储"), QStringLiteral("STORE")};
    const QCommandLineOption stdinPassword{QStringLiteral("password-stdin"), QStringLiteral("从标准输入读入密码")};
    const QCommandLineOption headOffice{QStringLiteral("head-office"), QStringLiteral("总部用户")};
    const QCommandLineOption branch{QStringLiteral("branch"), QStringLiteral("分店用户的分店编号"), QStringLiteral("NUMBER")};
    const QCommandLineOption email{QStringLiteral("email"), QStringLiteral("电子邮件地址"), QStringLiteral("ADDRESS")};
    const QCommandLineOption days{QStringLiteral("days"), QStringLiteral("令牌有效天数"), QStringLiteral("N")};
    const ChainOptions chainOptions;
    const QList<QCommandLineOption> options
        = QList<QCommandLineOption>{store, stdinPassword, headOffice, branch, email, days} + chainOptions.All();
    parser.addOptions(options);
    parser.addPositionalArgument(QStringLiteral("command"), {});
    if (!parser.parse(QStringList{QStringLiteral("velvip-server")} + args))
        return usage(CommandHelp::ParseError(parser, options));
    const QStringList words = parser.positionalArguments();
    const QString group = words.value(0);
    const QString command = group + u' ' + words.value(1);
    // Checked before the store is opened, which would create it.
    static const QStringList known{QStringLiteral("user add"), QStringLiteral("user passwd"), QStringLiteral("user disable"),
                                   QStringLiteral("user delete"), QStringLiteral("user move"), QStringLiteral("user list"), QStringLiteral("token add"), QStringLiteral("token revoke"),
                                   QStringLiteral("token list")};
    if (!words.value(1).isEmpty() && !known.contains(command))
        return usage(QStringLiteral("未知子命令“%1”").arg(words.value(1)));
    const QString name = words.value(2).trimmed();
    if (!command.endsWith(QLatin1String(" list")) && name.isEmpty())
        return usage(words.value(1).isEmpty() ? QStringLiteral("缺少子命令") : QStringLiteral("缺少用户名或令牌编号"));
    try {
        Store users(parser.isSet(store) ? parser.value(store) : Store::DefaultPath());
        QTextStream out(stdout);
        const auto when = [](qint64 t) { return QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm")); };
        if (command == QLatin1String("user add")) {
            if (parser.isSet(headOffice) == parser.isSet(branch))
                return usage(QStringLiteral("请给出 --head-office 或 --branch NUMBER 之一"));
            if (!parser.isSet(stdinPassword))
                return usage(QStringLiteral("密码只从标准输入读入：请加 --password-stdin"));
            if (parser.isSet(email))
                if (const QString wrong = DeliveryCheck::Address(QStringLiteral("--email "), parser.value(email)); !wrong.isEmpty())
                    return usage(wrong);
            QString refusal;
            const QString number = chosenBranch(parser, chainOptions, refusal);
            if (!refusal.isEmpty())
                return usage(refusal);
            users.AddUser({name, number, parser.value(email), false, Password::Hash(passwordFromStdin())});
        } else if (command == QLatin1String("user passwd")) {
            if (!parser.isSet(stdinPassword))
                return usage(QStringLiteral("密码只从标准输入读入：请加 --password-stdin"));
            // Also ends the user's sessions and tokens.
            if (!users.SetPassword(name, Password::Hash(passwordFromStdin())))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
        } else if (command == QLatin1String("user disable")) {
            if (!users.SetDisabled(name, true))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
        } else if (command == QLatin1String("user delete")) {
            if (!users.RemoveUser(name))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
        } else if (command == QLatin1String("user move")) {
            if (parser.isSet(headOffice) == parser.isSet(branch))
                return usage(QStringLiteral("请给出 --head-office 或 --branch NUMBER 之一"));
            if (!users.FindUser(name))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
            QString refusal;
            const QString number = chosenBranch(parser, chainOptions, refusal);
            if (!refusal.isEmpty())
                return usage(refusal);
            if (!users.SetBranch(name, number))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
        } else if (command == QLatin1String("user list")) {
            for (const Store::User &u : users.Users())
                out << u.name << '\t' << (u.branch.isEmpty() ? QStringLiteral("总部") : QStringLiteral("分店 ") + u.branch)
                    << '\t' << u.email << (u.disabled ? QStringLiteral("\t已停用") : QString()) << Qt::endl;
        } else if (command == QLatin1String("token add")) {
            bool ok = true;
            const int valid = parser.isSet(days) ? parser.value(days).toInt(&ok) : kTokenDays;
            if (!ok || valid < 1 || valid > 3650)
                return usage(QStringLiteral("--days 应为 1 到 3650 天"));
            if (!users.FindUser(name))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
            const QByteArray token = RandomSecret();
            const qint64 expires = QDateTime::currentSecsSinceEpoch() + qint64(valid) * 86400;
            const qint64 number = users.AddToken(SecretHash(token), name, expires);
            // The secret on standard output only; its number and end on standard error.
            out << token << Qt::endl;
            QTextStream(stderr) << QStringLiteral("令牌 %1，%2 到期").arg(number).arg(when(expires)) << Qt::endl;
        } else if (command == QLatin1String("token revoke")) {
            bool ok = false;
            const qint64 number = name.toLongLong(&ok);
            if (!ok || !users.RemoveToken(number))
                throw VelError(QStringLiteral("没有编号为 %1 的令牌（velvip-server token list 列出现有令牌）").arg(name));
        } else if (command == QLatin1String("token list")) {
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            for (const Store::Token &t : users.Tokens())
                out << t.number << '\t' << t.user << '\t' << when(t.created) << '\t' << when(t.expires)
                    << (t.expires <= now ? QStringLiteral("\t已过期") : QString()) << Qt::endl;
        } else {
            return usage(QStringLiteral("未知命令“%1”").arg(command.trimmed()));
        }
        return 0;
    } catch (const VelError &e) {
        QTextStream(stderr) << QStringLiteral("velvip-server: ") << e.Description() << Qt::endl;
        return 1;
    }
}
