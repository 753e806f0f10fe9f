#include "ChainOptions.h"
#include "CommandHelp.h"
#include "PluginLoader.h"
#include "QuietMessages.h"
#include "ReportSession.h"
#include "ScheduleCommand.h"
#include "Secrets.h"
#include "TextWrap.h"
#include "Service.h"
#include "UserCommand.h"
#include "VelError.h"
#include "Worker.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

#include <csignal>
#include <optional>
#include <thread>

#include <pthread.h>

namespace {

int usage(const QString &text)
{
    QTextStream(stderr) << QStringLiteral("velvip-server: %1\n请用 velvip-server --help 查看用法。").arg(text) << Qt::endl;
    return 2;
}

bool parseListen(const QString &text, ServiceOptions &o)
{
    const qsizetype colon = text.lastIndexOf(u':');
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    if (colon <= 0 || !ok || port < 0 || port > 65535)
        return false;
    o.host = text.left(colon);
    if (o.host.startsWith(u'[') && o.host.endsWith(u']'))
        o.host = o.host.mid(1, o.host.size() - 2);
    o.port = port;
    return true;
}

// A fresh one-time password for the demo's "admin", printed once.
void demoAdmin(const QString &storePath)
{
    Store store(storePath);
    const QByteArray password = RandomSecret().left(16);
    const QByteArray hash = Password::Hash(password);
    if (!store.SetPassword(QStringLiteral("admin"), hash))
        store.AddUser({QStringLiteral("admin"), {}, {}, false, hash});
    QTextStream(stdout) << QStringLiteral("演示用户：admin，一次性密码：%1").arg(QString::fromLatin1(password)) << Qt::endl;
}

int serve(const QStringList &arguments)
{
    QCommandLineParser parser;
    const ChainOptions chain;
    const QCommandLineOption demo{QStringLiteral("demo"), QStringLiteral("使用内置的演示连锁数据库，并打印 admin 的一次性密码")};
    const QCommandLineOption listen{QStringLiteral("listen"), QStringLiteral("监听地址，默认 127.0.0.1:8080"), QStringLiteral("HOST:PORT")};
    const QCommandLineOption store{QStringLiteral("store"), QStringLiteral("服务存储（用户、会话、方案、审计日志）：文件，或 PostgreSQL 连接文本"), QStringLiteral("STORE")};
    const QCommandLineOption plugins{QStringLiteral("plugins"), QStringLiteral("插件目录"), QStringLiteral("DIR")};
    const QCommandLineOption cert{QStringLiteral("cert"), QStringLiteral("TLS 证书（PEM）"), QStringLiteral("FILE")};
    const QCommandLineOption key{QStringLiteral("key"), QStringLiteral("TLS 私钥（PEM）"), QStringLiteral("FILE")};
    const QCommandLineOption insecure{QStringLiteral("insecure-listen"), QStringLiteral("允许在非本机地址上不加密地监听")};
    const QCommandLineOption workers{QStringLiteral("workers"), QStringLiteral("报表进程数，默认 2"), QStringLiteral("N")};
    const QCommandLineOption queue{QStringLiteral("queue"), QStringLiteral("等待运行的报表最多几个，默认 16"), QStringLiteral("N")};
    const QCommandLineOption downloads{QStringLiteral("downloads"), QStringLiteral("同时运行的下载（csv、xlsx、pdf）最多几个，默认 1；其余排队"), QStringLiteral("N")};
    const QCommandLineOption shared{QStringLiteral("shared-cards"), QStringLiteral("储值卡在分店间通用：1（默认）或 0"), QStringLiteral("0|1")};
    const QCommandLineOption idle{QStringLiteral("session-idle"), QStringLiteral("会话空闲多少秒后失效，默认 1800"), QStringLiteral("SECONDS")};
    const QCommandLineOption drain{QStringLiteral("drain-seconds"), QStringLiteral("停止时等待正在运行的请求最多几秒，默认 30"), QStringLiteral("SECONDS")};
    const QCommandLineOption proxy{QStringLiteral("trusted-proxy"), QStringLiteral("前置反向代理的地址（可多次给出）：只有来自它的请求才按 X-Forwarded-For 认定客户端地址"), QStringLiteral("ADDRESS")};
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("显示本帮助。")};
    QList<QCommandLineOption> options = chain.All() + QList<QCommandLineOption>{demo, listen, store, plugins, cert, key, insecure, workers, queue, downloads, shared, idle, drain, proxy};
    parser.addOptions(options);
    parser.addOption(help);
    options << AddDeliveryOptions(parser);
    if (!parser.parse(arguments))
        return usage(CommandHelp::ParseError(parser, options));
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("未知命令“%1”").arg(parser.positionalArguments().first()));
    if (parser.isSet(help)) {
        QTextStream(stdout) << QStringLiteral("用法：velvip-server (--db FILE | --props TEXT | --props-file FILE | --demo) [选项]\n"
                                              "      velvip-server user|token|schedule …\n\n"
                                              "会员报表服务：通过 HTTP(S) 提供报表和浏览器门户，并定时发送报表邮件。\n\n选项：\n")
                            << CommandHelp::Options(options, TextWrap::TerminalWidth())
                            << QStringLiteral("\n\n用户与令牌：velvip-server user add|passwd|disable|delete|move|list …，velvip-server token add|revoke|list …（velvip-server user 查看用法）\n"
                                              "定时发送：velvip-server schedule add|list|run-now|resend|log|disable|enable …（velvip-server schedule 查看用法）\n");
        return 0;
    }
    ServiceOptions o;
    if (chain.Given(parser) + int(parser.isSet(demo)) != 1)
        return usage(QStringLiteral("请给出 --db FILE、--props TEXT、--props-file FILE 或 --demo 之一"));
    if (parser.isSet(listen) && !parseListen(parser.value(listen), o))
        return usage(QStringLiteral("--listen 应为 HOST:PORT，例如 127.0.0.1:8080"));
    auto number = [&](const QCommandLineOption &option, int fallback, int min, int max) {
        bool ok = true;
        const int n = parser.isSet(option) ? parser.value(option).toInt(&ok) : fallback;
        return ok && n >= min && n <= max ? n : -1;
    };
    o.workers = number(workers, 2, 1, 64);
    o.queue = number(queue, 16, 0, 10000);
    o.downloads = number(downloads, 1, 1, 64);
    o.session.idleSeconds = number(idle, 1800, 1, 86400);
    o.drainSeconds = number(drain, 30, 0, 3600);
    const int sharedCards = number(shared, 1, 0, 1);
    if (o.workers < 0 || o.queue < 0 || o.downloads < 0 || o.session.idleSeconds < 0 || sharedCards < 0 || o.drainSeconds < 0)
        return usage(QStringLiteral("--workers 应为 1 到 64，--queue 0 到 10000，--downloads 1 到 64，--session-idle 1 到 86400，"
                                    "--shared-cards 0 或 1，--drain-seconds 0 到 3600"));
    o.sharedCards = sharedCards == 1;
    if (const QString wrong = ReadDeliveryOptions(parser, o.delivery); !wrong.isEmpty())
        return usage(wrong);
    for (const QString &address : parser.values(proxy)) {
        const QString numeric = Service::NumericAddress(address);
        if (numeric.isEmpty())
            return usage(QStringLiteral("--trusted-proxy 应为 IP 地址，例如 127.0.0.1"));
        o.trustedProxies << numeric;
    }
    o.insecureListen = parser.isSet(insecure);
    o.cert = parser.value(cert);
    o.key = parser.value(key);
    if (o.cert.isEmpty() != o.key.isEmpty())
        return usage(QStringLiteral("--cert 和 --key 要一起给出"));
    // The workers load the plug-in; they find the folder given here first. A missing or
    // other-version plug-in stops the service before it listens.
    if (parser.isSet(plugins)) {
        const QByteArray path = qgetenv("VELVIPRPT_PLUGIN_PATH");
        qputenv("VELVIPRPT_PLUGIN_PATH", parser.value(plugins).toLocal8Bit() + (path.isEmpty() ? "" : ":" + path));
    }
    PluginLoader::Locate();
    // The demo keeps a store of its own that ends with it: its admin never reaches a real store.
    // Made for the demo alone: a service killed with SIGKILL leaves its folder behind.
    std::optional<QTemporaryDir> demoStore;
    if (parser.isSet(demo) && parser.isSet(store))
        return usage(QStringLiteral("--demo 使用自己的临时存储，不能与 --store 一起给出"));
    if (parser.isSet(demo) && !demoStore.emplace().isValid())
        return usage(QStringLiteral("无法建立演示用的临时存储"));
    o.storePath = parser.isSet(demo) ? demoStore->filePath(QStringLiteral("demo.sqlite"))
                  : parser.isSet(store) ? parser.value(store) : Store::DefaultPath();
    try {
        o.props = parser.isSet(demo) ? ReportSession::DefaultPropsString() : chain.Text(parser);
    } catch (const VelError &e) {
        return usage(e.Description());
    }
    if (parser.isSet(demo))
        o.listening = [path = o.storePath] { demoAdmin(path); };

    // SIGTERM and SIGINT are taken by one thread that stops the listener; running requests get
    // --drain-seconds to end. Blocked here so that every later thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    Service service(o);
    std::thread([&service, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        service.Stop();
    }).detach();
    return service.Run();
}

} // namespace

int main(int argc, char **argv)
{
    InstallQuietMessageHandler();
    QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.*=false"));
    const QByteArray command = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (command == "--worker") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        ReportSession::SetApplicationIdentity();
        return WorkerMain();
    }
    QCoreApplication app(argc, argv);
    ReportSession::SetApplicationIdentity();
    QCoreApplication::setApplicationVersion(QStringLiteral(VELVIP_VERSION));
    try {
        if (command == "user" || command == "token")
            return UserMain(app.arguments().mid(1));
        if (command == "schedule")
            return ScheduleMain(app.arguments().mid(2));
        return serve(app.arguments());
    } catch (const VelError &e) {
        QTextStream(stderr) << QStringLiteral("velvip-server: ") << e.Description() << Qt::endl;
        return 1;
    }
}
