#include "CommandHelp.h"
#include "Dictionary.h"
#include "DrillDown.h"
#include "FindBar.h"
#include "FrozenTableView.h"
#include "GuiPlatform.h"
#include "HostKit.h"
#include "MainWindow.h"
#include "QuietMessages.h"
#include "ReportSession.h"
#include "ReportTableModel.h"
#include "ReportView.h"
#include "TextWrap.h"
#include "Translations.h"
#include "VelError.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QScrollBar>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

#include "DemoChain.h"

namespace {

// Runs every report with its sample filter and saves a picture of the window per report.
int takeScreenshots(MainWindow &window, const QString &folder)
{
    QDir().mkpath(folder);
    window.show();
    int failures = 0;
    for (qint32 id : ReportSession::ReportIds()) {
        ReportView *view = window.OpenReport(id, ReportSession::SampleFilter(id));
        QApplication::processEvents();
        if (!view || !view->ErrorText().isEmpty()) {
            qWarning("report %d: %s", id, view ? qPrintable(view->ErrorText()) : "not opened");
            ++failures;
        }
        const QString path = QDir(folder).filePath(QStringLiteral("host-%1.png").arg(id));
        if (!window.grab().save(path))
            ++failures;
    }
    const auto save = [&](const QString &name) {
        QApplication::processEvents();
        if (!window.grab().save(QDir(folder).filePath(QStringLiteral("host-%1.png").arg(name))))
            ++failures;
    };
    // The ledger frozen up to the member's name and scrolled right: the frozen columns keep
    // their header.
    window.Tabs()->setCurrentIndex(0);
    if (ReportView *ledger = window.CurrentView()) {
        const QList<ReportColumn> &columns = ledger->Model()->Layout().Columns();
        for (int c = 0; c < columns.size(); ++c)
            if (columns.at(c).field == QLatin1String("FVipName"))
                ledger->SetFrozenColumns(c + 1);
        QScrollBar *bar = ledger->Table()->horizontalScrollBar();
        bar->setValue(bar->maximum() / 2);
        save(QStringLiteral("10901-scrolled"));
        // The find bar on the ledger as it opens, neither frozen nor scrolled.
        ledger->SetFrozenColumns(0);
        bar->setValue(0);
        ledger->Find()->Open();
        ledger->Find()->Edit()->setText(QStringLiteral("充值"));
        save(QStringLiteral("find"));
        ledger->Find()->Close();
    }
    // A branch's lines, drilled down from its subtotal in the sales by branch.
    if (ReportView *sales = window.OpenReport(10902, ReportSession::SampleFilter(10902))) {
        const auto summaries = sales->Model()->SummaryRows();
        const auto target = summaries.isEmpty() ? std::nullopt
            : DrillDown::ForRow(sales->Model()->Report(), sales->Model()->SourceRow(summaries.first()));
        if (target && window.OpenDetail(*target))
            save(QStringLiteral("drilldown"));
        else
            ++failures;
    }
    // A period without sales.
    DictionaryPtr none = ReportSession::SampleFilter(10903);
    none->SetValue(QStringLiteral("BDate"), QStringLiteral("2031-01-01 00:00:00"));
    none->SetValue(QStringLiteral("EDate"), QStringLiteral("2031-01-31 23:59:59"));
    window.OpenReport(10903, none);
    save(QStringLiteral("empty"));
    // Each chart under its grid.
    for (qint32 id : {10901, 10902, 10904, 10905}) {
        window.OpenReport(id, ReportSession::SampleFilter(id));
        auto *chart = window.findChild<QAction *>(QStringLiteral("chartToggle"));
        if (!chart || !chart->isEnabled()) {
            ++failures;
            continue;
        }
        chart->trigger();
        // The ledger charts the selected card: one with top-ups and points in the demo chain.
        if (id == 10901 && window.CurrentView())
            window.CurrentView()->Table()->selectRow(9);
        save(QStringLiteral("chart-%1").arg(id));
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    InstallQuietMessageHandler();
    const QCommandLineOption props(QStringLiteral("props"), QStringLiteral("本次使用的连接文本（不保存）。"),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("本次使用的 SQLite 数据库文件（不保存）。"),
                                QStringLiteral("FILE"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
        QStringLiteral("依次运行六张报表（示例过滤条件），把窗口截图保存为 DIR/host-<报表编号>.png 后退出；"
                       "没有显示时在屏幕外绘制。"),
        QStringLiteral("DIR"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("显示本帮助。"));
    const QList<QCommandLineOption> options{props, db, screenshot};
    // Help and the platform are settled before Qt opens a display.
    bool screenshots = false;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-h") == 0 || qstrcmp(argv[i], "--help") == 0) {
            QTextStream(stdout) << QStringLiteral("用法：velvip-host [选项]\n\n会员报表桌面主程序：列出六张报表，"
                                                  "双击设置过滤条件并在标签页中打开报表。\n\n选项：\n")
                                << CommandHelp::Options(options, TextWrap::TerminalWidth()) << Qt::endl;
            return 0;
        }
        screenshots = screenshots || qstrncmp(argv[i], "--screenshot", 12) == 0;
    }
    if (screenshots) {
        GuiPlatform::PrepareOffscreenFallback();
        // The offscreen platform's notes about window features it lacks.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.*=false"));
    }
    else if (const QString why = GuiPlatform::Prepare(); !why.isEmpty())
        return GuiPlatform::Refuse("velvip-host", QString(), why);
    QApplication app(argc, argv);
    if (const QString why = screenshots ? QString() : GuiPlatform::Check(); !why.isEmpty())
        return GuiPlatform::Refuse("velvip-host", QString(), why);
    ReportSession::SetApplicationIdentity();
    if (!InstallQtTranslations())
        qWarning("%s", qPrintable(QStringLiteral("未安装 Qt 的中文翻译（qt6-translations-l10n），标准对话框将显示英文")));
    QCommandLineParser parser;
    parser.addOptions(options);
    parser.addOption(help);
    if (!parser.parse(app.arguments())) {
        QTextStream(stderr) << QStringLiteral("velvip-host: %1\n请用 velvip-host --help 查看用法。")
                                   .arg(CommandHelp::ParseError(parser, options))
                            << Qt::endl;
        return 2;
    }

    static MessageBoxErrorReporter boxReporter(QStringLiteral("会员报表"));
    static StderrErrorReporter stderrReporter;
    ErrorReporter::Install(screenshots ? static_cast<IErrorReporter *>(&stderrReporter) : &boxReporter);
    try {
        ReportSession::RegisterComponents();
    } catch (const VelError &e) {
        ErrorReporter::Error(e);
        return 1;
    }
    // A long query can be stopped from the progress window (Esc or its 取消 button).
    ShareProps::SetHostProperty(QStringLiteral("AllowCancel"), 1);

    // An empty connection text given on purpose is refused, not replaced by the saved one.
    if (parser.isSet(props) && parser.value(props).trimmed().isEmpty()) {
        std::fputs("--props 给出的连接文本是空的（例如 Driver=SQLite;Database=文件）\n", stderr);
        return 2;
    }

    MainWindow window;
    if (parser.isSet(props))
        window.OverrideConnection(parser.value(props));
    else if (parser.isSet(db))
        window.OverrideConnection(DemoChain::SqliteConnectionText(parser.value(db)));
    if (screenshots)
        return takeScreenshots(window, parser.value(screenshot));
    window.show();
    QTimer::singleShot(0, &window, &MainWindow::RestoreTabs);
    return app.exec();
}
