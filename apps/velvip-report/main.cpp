#include "SignalCancel.h"
#include "CliKeys.h"
#include "CliOptions.h"
#include "CliRun.h"
#include "GuiPlatform.h"
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

#include <unistd.h>

namespace {

bool wantsDialog(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--dialog") == 0 || qstrcmp(argv[i], "-dialog") == 0)
            return true;
    return false;
}

// A command's status, or what a signal made of it.
int guarded(const std::function<int()> &command)
{
    const int status = command();
    return SignalCancel::Requested() ? SignalCancel::Finish(status) : status;
}

int runCommand(int argc, char **argv)
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
                                                  : QStringLiteral("velvip-report: 未知命令“%1”").arg(command))
                            << QStringLiteral("\n用法：velvip-report run RPTID [选项] | velvip-report keys [RPTID] | "
                                              "velvip-report make-demo [选项]\n请用 velvip-report --help 查看用法。")
                            << Qt::endl;
        return 2;
    }
    const bool dialog = wantsDialog(argc, argv);
    // Only the filter dialog is for a person to see: everything else (the progress window, PDF
    // fonts) runs offscreen, whatever DISPLAY or QT_QPA_PLATFORM say.
    if (!dialog)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (const QString why = GuiPlatform::Prepare(); !why.isEmpty())
        return GuiPlatform::Refuse("velvip-report", QStringLiteral("--dialog "), why);
    QApplication app(argc, argv);
    if (const QString why = dialog ? GuiPlatform::Check() : QString(); !why.isEmpty())
        return GuiPlatform::Refuse("velvip-report", QStringLiteral("--dialog "), why);
    ReportSession::SetApplicationIdentity();
    return guarded([&] { return RunMain(app.arguments().mid(2)); });
}

} // namespace

// Every command ends here on a failed allocation (a huge option value, an exhausted machine,
// a `ulimit -v`) with a sentence instead of an abort; written without allocating.
int main(int argc, char **argv)
{
    try {
        return runCommand(argc, argv);
    } catch (const std::bad_alloc &) {
        constexpr char text[] = "velvip-report: 内存不足，命令没有完成。\n";
        (void)!::write(STDERR_FILENO, text, sizeof text - 1);
        return 1;
    }
}
