#include "UserCommand.h"

#include "Auth.h"
#include "Store.h"
#include "VelError.h"

#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>

namespace {

constexpr int kMinPassword = 8;

int usage(const QString &text)
{
    QTextStream(stderr) << QStringLiteral("velvip-server user: %1\n用法：velvip-server user add NAME --password-stdin "
                                          "(--head-office | --branch NUMBER) [--email ADDRESS] [--store FILE]\n"
                                          "      velvip-server user passwd NAME --password-stdin [--store FILE]\n"
                                          "      velvip-server user disable|token NAME [--store FILE]\n"
                                          "      velvip-server user list [--store FILE]\n")
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

} // namespace

int UserMain(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption store{QStringLiteral("store"), QStringLiteral("服务存储文件"), QStringLiteral("FILE")};
    const QCommandLineOption stdinPassword{QStringLiteral("password-stdin"), QStringLiteral("从标准输入读入密码")};
    const QCommandLineOption headOffice{QStringLiteral("head-office"), QStringLiteral("总部用户")};
    const QCommandLineOption branch{QStringLiteral("branch"), QStringLiteral("分店用户的分店编号"), QStringLiteral("NUMBER")};
    const QCommandLineOption email{QStringLiteral("email"), QStringLiteral("电子邮件地址"), QStringLiteral("ADDRESS")};
    parser.addOptions({store, stdinPassword, headOffice, branch, email});
    parser.addPositionalArgument(QStringLiteral("command"), {});
    if (!parser.parse(QStringList{QStringLiteral("user")} + args))
        return usage(parser.errorText());
    const QStringList words = parser.positionalArguments();
    const QString command = words.value(0);
    const QString name = words.value(1).trimmed();
    if (command != QLatin1String("list") && name.isEmpty())
        return usage(command.isEmpty() ? QStringLiteral("缺少子命令") : QStringLiteral("缺少用户名"));
    try {
        Store users(parser.isSet(store) ? parser.value(store) : Store::DefaultPath());
        QTextStream out(stdout);
        if (command == QLatin1String("add")) {
            if (parser.isSet(headOffice) == parser.isSet(branch))
                return usage(QStringLiteral("请给出 --head-office 或 --branch NUMBER 之一"));
            if (!parser.isSet(stdinPassword))
                return usage(QStringLiteral("密码只从标准输入读入：请加 --password-stdin"));
            users.AddUser({name, parser.value(branch).trimmed(), parser.value(email), false,
                           Password::Hash(passwordFromStdin())});
        } else if (command == QLatin1String("passwd")) {
            if (!parser.isSet(stdinPassword))
                return usage(QStringLiteral("密码只从标准输入读入：请加 --password-stdin"));
            if (!users.SetPassword(name, Password::Hash(passwordFromStdin())))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
        } else if (command == QLatin1String("disable")) {
            if (!users.SetDisabled(name, true))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
        } else if (command == QLatin1String("token")) {
            if (!users.FindUser(name))
                throw VelError(QStringLiteral("没有用户“%1”").arg(name));
            const QByteArray token = RandomSecret();
            users.AddToken(SecretHash(token), name);
            out << token << Qt::endl;
        } else if (command == QLatin1String("list")) {
            for (const Store::User &u : users.Users())
                out << u.name << '\t' << (u.branch.isEmpty() ? QStringLiteral("总部") : QStringLiteral("分店 ") + u.branch)
                    << '\t' << u.email << (u.disabled ? QStringLiteral("\t已停用") : QString()) << Qt::endl;
        } else {
            return usage(QStringLiteral("未知子命令“%1”").arg(command));
        }
        return 0;
    } catch (const VelError &e) {
        QTextStream(stderr) << QStringLiteral("velvip-server user: ") << e.Description() << Qt::endl;
        return 1;
    }
}
