#include "SignalCancel.h"
#include "CliKeys.h"
#include "CliOptions.h"
#include "CliRun.h"
#include "MakeDemo.h"
#include "QuietMessages.h"
#include "ReportSession.h"
#include "TextWrap.h"
#include "UpgradeSchema.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <functional>
#include <new>

namespace {

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

bool wantsDialog(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--dialog") == 0 || qstrcmp(argv[i], "-dialog") == 0)
            return true;
    return false;
}

// Platforms that draw nowhere a person could see: a dialog there would wait for ever.
bool isInvisiblePlatform(const QString &name)
{
    return name == u"offscreen" || name == u"minimal" || name == u"minimalegl";
}

int refuseDialog(const QString &why)
{
    QTextStream(stderr) << QStringLiteral("velvip-report: --dialog 需要图形界面（%1）").arg(why) << Qt::endl;
    return 2;
}

// Every command ends here on a failed allocation (a huge option value, an exhausted machine)
// with a sentence instead of an abort.
int guarded(const std::function<int()> &command)
{
    try {
        const int status = command();
        return SignalCancel::Requested() ? SignalCancel::Finish() : status;
    } catch (const std::bad_alloc &) {
        QTextStream(stderr) << QStringLiteral("velvip-report: 内存不足，命令没有完成。") << Qt::endl;
        return 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    InstallQuietMessageHandler();
    // The offscreen platform's notes about window features it lacks.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.*=false"));
    const QString command = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    SignalCancel::Install();
    if (command == QLatin1String("make-demo") || command == QLatin1String("keys")) {
        QCoreApplication app(argc, argv);
        ReportSession::SetApplicationIdentity();
        const QStringList args = app.arguments().mid(2);
        return guarded([&] { return command == QLatin1String("keys") ? KeysMain(args) : MakeDemoMain(args); });
    }
    if (command == QLatin1String("upgrade-schema")) {
        QCoreApplication app(argc, argv);
        const QStringList args = app.arguments().mid(2);
        return guarded([&] { return UpgradeSchemaMain(args); });
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        QCoreApplication app(argc, argv);
        QTextStream(stdout) << ProgramHelp(TextWrap::TerminalWidth());
        return 0;
    }
    if (command != QLatin1String("run")) {
        QTextStream(stderr) << (command.isEmpty() ? QStringLiteral("velvip-report: 缺少命令")
                                                  : QStringLiteral("velvip-report: 未知命令 \"%1\"").arg(command))
                            << QStringLiteral("\n用法：velvip-report run RPTID [选项] | velvip-report keys [RPTID] | "
                                              "velvip-report make-demo [选项]\n请用 velvip-report --help 查看用法。")
                            << Qt::endl;
        return 2;
    }
    const bool dialog = wantsDialog(argc, argv);
    // Without a display the progress window runs offscreen; a dialog needs a real one.
    if (!hasDisplay()) {
        if (dialog)
            return refuseDialog(QStringLiteral("没有 DISPLAY"));
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (dialog && isInvisiblePlatform(QGuiApplication::platformName()))
        return refuseDialog(QStringLiteral("当前平台 %1 不显示窗口").arg(QGuiApplication::platformName()));
    ReportSession::SetApplicationIdentity();
    return guarded([&] { return RunMain(app.arguments().mid(2)); });
}
