#include "Dictionary.h"
#include "DrillDown.h"
#include "FindBar.h"
#include "FrozenTableView.h"
#include "HostKit.h"
#include "MainWindow.h"
#include "QuietMessages.h"
#include "ReportSession.h"
#include "ReportTableModel.h"
#include "ReportView.h"
#include "Translations.h"
#include "VelError.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLineEdit>
#include <QScrollBar>
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
    QApplication app(argc, argv);
    ReportSession::SetApplicationIdentity();
    if (!InstallQtTranslations())
        qWarning("%s", qPrintable(QStringLiteral("未安装 Qt 的中文翻译（qt6-translations-l10n），标准对话框将显示英文")));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("会员报表桌面主程序。"));
    parser.addHelpOption();
    const QCommandLineOption props(QStringLiteral("props"), QStringLiteral("本次使用的连接文本（不保存）。"),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("本次使用的 SQLite 数据库文件（不保存）。"),
                                QStringLiteral("FILE"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
        QStringLiteral("依次运行六张报表（示例过滤条件），把窗口截图保存为 DIR/host-<报表编号>.png 后退出。"),
        QStringLiteral("DIR"));
    parser.addOptions({props, db, screenshot});
    parser.process(app);

    static MessageBoxErrorReporter boxReporter(QStringLiteral("会员报表"));
    static StderrErrorReporter stderrReporter;
    const bool screenshots = parser.isSet(screenshot);
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
