#include "CliOptions.h"
#include "CliRun.h"
#include "MakeDemo.h"
#include "ReportSession.h"
#include "UpgradeSchema.h"

#include <QApplication>
#include <QTextStream>

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
    if (command == QLatin1String("upgrade-schema")) {
        QCoreApplication app(argc, argv);
        return UpgradeSchemaMain(app.arguments().mid(2));
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
    // Without a display the progress window runs offscreen; a dialog needs a real one.
    if (!hasDisplay()) {
        if (wantsDialog(argc, argv)) {
            QTextStream(stderr) << QStringLiteral("velvip-report: --dialog 需要图形界面（没有 DISPLAY）") << Qt::endl;
            return 2;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ReportSession::SetApplicationIdentity();
    return RunMain(app.arguments().mid(2));
}
