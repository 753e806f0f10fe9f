#include "CliOptions.h"
#include "CliRun.h"
#include "MakeDemo.h"
#include "ReportSession.h"

#include <QApplication>
#include <QTextStream>

namespace {

// Without a display, and without a dialog to show, the progress window runs offscreen.
void chooseOffscreenPlatform(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return;
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--dialog") == 0 || qstrcmp(argv[i], "-dialog") == 0)
            return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace

int main(int argc, char **argv)
{
    const QString command = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (command == QLatin1String("make-demo")) {
        QCoreApplication app(argc, argv);
        ReportSession::SetApplicationIdentity();
        QStringList args = app.arguments().mid(2);
        return MakeDemoMain(args);
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        QCoreApplication app(argc, argv);
        QTextStream(stdout) << ProgramHelp();
        return 0;
    }
    if (command != QLatin1String("run")) {
        QTextStream(stderr) << (command.isEmpty() ? QStringLiteral("velvip-report: 缺少命令")
                                                  : QStringLiteral("velvip-report: 未知命令 \"%1\"").arg(command))
                            << QStringLiteral("\n用法：velvip-report run RPTID [选项] | velvip-report make-demo [选项]\n"
                                              "请用 velvip-report --help 查看用法。")
                            << Qt::endl;
        return 2;
    }
    chooseOffscreenPlatform(argc, argv);
    QApplication app(argc, argv);
    ReportSession::SetApplicationIdentity();
    return RunMain(app.arguments().mid(2));
}
