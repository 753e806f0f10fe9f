#include "MainWindow.h"

#include "ChartActions.h"
#include "ColumnMemory.h"
#include "ConnectionDialog.h"
#include "Dictionary.h"
#include "FilterDates.h"
#include "FindBar.h"
#include "GLData.h"
#include "PasswordKeyring.h"
#include "ReportExport.h"
#include "ReportApplication.h"
#include "ReportSession.h"
#include "ReportTableModel.h"
#include "ReportView.h"
#include "SavedTabs.h"
#include "TabTitle.h"
#include "VelError.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

// A tab keeps its Application, so that a refresh reruns the same report and filter.
struct MainWindow::Tab
{
    std::unique_ptr<ReportApplication> app = std::make_unique<ReportApplication>();
    ReportView *view = nullptr;
    ColumnMemory *columns = nullptr;
    QString label;
    qint64 elapsedMs = 0;
    bool cancelled = false;   // the user stopped the last run
    // What the last run used, kept for restoring the tab on the next start.
    ConnectionSettings connection;
    QString overrideProps;

    // Runs the report through Application and times it.
    void Run()
    {
        QElapsedTimer timer;
        timer.start();
        const quint64 interrupts = GLData::InterruptCount();
        app->GetReportData();
        cancelled = GLData::InterruptCount() != interrupts;
        elapsedMs = timer.elapsed();
    }
};

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), m_reports(new QListWidget(this)), m_tabs(new QTabWidget(this)), m_status(new QLabel(this))
{
    setWindowTitle(QStringLiteral("会员报表"));
    for (qint32 id : ReportSession::ReportIds()) {
        auto *item = new QListWidgetItem(QStringLiteral("%1  %2").arg(id).arg(ReportSession::ReportName(id)), m_reports);
        item->setData(Qt::UserRole, id);
    }
    m_reports->setCurrentRow(0);
    connect(m_reports, &QListWidget::itemActivated, this, [this] { runSelected(); });

    m_tabs->setTabsClosable(true);
    m_tabs->setDocumentMode(true);
    m_tabs->setElideMode(Qt::ElideMiddle);
    m_tabs->setUsesScrollButtons(true);
    connect(m_tabs, &QTabWidget::tabCloseRequested, this, &MainWindow::closeTab);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] {
        updateActions();
        updateStatus();
    });

    // Until the first report opens, the right side says how to begin.
    auto *right = new QStackedWidget(this);
    auto *start = new QLabel(QStringLiteral("双击左侧报表开始"), right);
    start->setObjectName(QStringLiteral("startHint"));
    start->setAlignment(Qt::AlignCenter);
    start->setStyleSheet(QStringLiteral("QLabel { color: #606060; font-size: 14pt; }"));
    right->addWidget(start);
    right->addWidget(m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, right, [this, right] {
        right->setCurrentWidget(m_tabs->count() > 0 ? static_cast<QWidget *>(m_tabs) : right->widget(0));
    });
    // What a report shows never widens the window: the report side takes the width it is given
    // (its labels wrap), and so does the status line.
    right->setMinimumWidth(240);
    m_status->setMinimumWidth(1);
    auto *splitter = new QSplitter(this);
    splitter->addWidget(m_reports);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({220, 1000});
    setCentralWidget(splitter);
    statusBar()->addWidget(m_status, 1);

    createActions();
    QSettings settings;
    m_connection = ConnectionSettings::Load(settings);
    if (!restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray()))
        resize(1280, 760);
    updateStatus();
    updateActions();
}

MainWindow::~MainWindow()
{
    // The views belong to the tab widget; drop the applications first.
    m_openTabs.clear();
}

void MainWindow::createActions()
{
    QToolBar *bar = addToolBar(QStringLiteral("报表"));
    bar->setObjectName(QStringLiteral("reportToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addAction(QStringLiteral("运行报表"), this, &MainWindow::runSelected);
    m_refresh = bar->addAction(QStringLiteral("刷新"), this, &MainWindow::refreshCurrent);
    m_refresh->setShortcut(Qt::Key_F5);
    bar->addSeparator();
    m_reportActions << bar->addAction(QStringLiteral("导出 CSV"), this, [this] { exportCurrent(QStringLiteral("csv")); });
    m_reportActions << bar->addAction(QStringLiteral("导出 Excel"), this, [this] { exportCurrent(QStringLiteral("xlsx")); });
    m_reportActions << bar->addAction(QStringLiteral("导出 PDF"), this, [this] { exportCurrent(QStringLiteral("pdf")); });
    m_reportActions << bar->addAction(QStringLiteral("打印预览"), this, &MainWindow::printCurrent);
    m_reportActions.last()->setShortcut(QKeySequence::Print);
    m_charts = new ChartActions(bar, [this] { return CurrentView(); });
    // CSV is written without a byte order mark unless asked, the same as on the command line.
    QAction *bom = bar->addAction(QStringLiteral("CSV 带 BOM"));
    bom->setObjectName(QStringLiteral("csvByteOrderMark"));
    bom->setCheckable(true);
    bom->setToolTip(QStringLiteral("导出的 CSV 以 UTF-8 BOM 开头，供需要它才能正确显示中文的电子表格程序使用"));
    bom->setChecked(QSettings().value(QStringLiteral("export/csvByteOrderMark"), false).toBool());
    connect(bom, &QAction::toggled, this,
            [](bool on) { QSettings().setValue(QStringLiteral("export/csvByteOrderMark"), on); });
    bar->addSeparator();
    bar->addAction(QStringLiteral("连接设置"), this, &MainWindow::editConnection);

    QAction *restore = menuBar()->addMenu(QStringLiteral("视图"))->addAction(QStringLiteral("启动时恢复标签页"));
    restore->setObjectName(QStringLiteral("restoreTabs"));
    restore->setCheckable(true);
    restore->setChecked(QSettings().value(QStringLiteral("view/restoreTabs"), false).toBool());
    connect(restore, &QAction::toggled, this,
            [](bool on) { QSettings().setValue(QStringLiteral("view/restoreTabs"), on); });

    // Keyboard only: the toolbar already has a button for each export.
    auto addShortcut = [this](const QKeySequence &keys, auto slot) {
        auto *action = new QAction(this);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    m_reportActions << addShortcut(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { exportCurrent(QString()); });
    m_reportActions << addShortcut(QKeySequence::Find, [this] {
        if (ReportView *view = CurrentView())
            view->Find()->Open();
    });
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), [this] {
        if (m_tabs->currentIndex() >= 0)
            closeTab(m_tabs->currentIndex());
    });
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), [this] {
        if (m_tabs->count() > 1)
            m_tabs->setCurrentIndex((m_tabs->currentIndex() + 1) % m_tabs->count());
    });
}

void MainWindow::closeTab(int index)
{
    QWidget *page = m_tabs->widget(index);
    m_tabs->removeTab(index);
    std::erase_if(m_openTabs, [page](const std::unique_ptr<Tab> &t) { return t->view == page; });
    page->deleteLater();
    updateActions();
}

MainWindow::Tab *MainWindow::currentTab() const
{
    ReportView *view = CurrentView();
    for (const auto &tab : m_openTabs)
        if (view && tab->view == view)
            return tab.get();
    return nullptr;
}

QString MainWindow::connectionText() const
{
    return m_overrideProps.isEmpty() ? m_connection.Describe() : ReportSession::MaskedPropsString(m_overrideProps);
}

QString MainWindow::StatusText() const
{
    return m_status->text();
}

void MainWindow::updateStatus()
{
    const Tab *tab = currentTab();
    if (!tab || !tab->view->ErrorText().isEmpty()) {
        m_status->setText(connectionText());
        return;
    }
    m_status->setText(QStringLiteral("明细 %1 行    用时 %2 秒    %3")
                          .arg(QLocale(QLocale::Chinese).toString(tab->view->Model()->DetailRowCount()))
                          .arg(double(tab->elapsedMs) / 1000.0, 0, 'f', 2)
                          .arg(connectionText()));
}

void MainWindow::OverrideConnection(const QString &propsString)
{
    m_overrideProps = propsString;
    updateStatus();
}

bool MainWindow::prepareConnection()
{
    try {
        ReportSession::PublishContext(m_connection.context);
        QString props = m_overrideProps;
        if (props.isEmpty()) {
            if (m_connection.kind == ConnectionSettings::Kind::Demo)
                statusBar()->showMessage(QStringLiteral("正在准备演示数据库..."));
            props = m_connection.PropsString();
            statusBar()->clearMessage();
        }
        ReportSession::SetPropsString(props);
        return true;
    } catch (const VelError &e) {
        statusBar()->clearMessage();
        QMessageBox::warning(this, windowTitle(), e.Description());
        return false;
    }
}

ReportView *MainWindow::OpenReport(qint32 rptId, const DictionaryPtr &filter, const QString &label)
{
    if (!prepareConnection())
        return nullptr;
    auto tab = std::make_unique<Tab>();
    ReportApplication &app = *tab->app;
    app.SetRptID(rptId);
    if (filter) {
        // A filter written by the host may hold date-only bounds: whole days, as on the command line.
        try {
            FilterDates::NormaliseBounds(*filter);
        } catch (const VelError &e) {
            QMessageBox::warning(this, windowTitle(), e.Description());
            return nullptr;
        }
        app.SetFilter(filter);
    } else {
        app.ShowFilter();
        if (!app.Result()->Value(QStringLiteral("OK")).toBool())
            return nullptr;   // cancelled; the dialog host has reported any error
    }
    tab->Run();
    tab->label = label;
    tab->connection = m_connection;
    tab->overrideProps = m_overrideProps;
    tab->view = new ReportView(m_tabs);
    tab->columns = new ColumnMemory(tab->view, rptId);
    connect(tab->view, &ReportView::DrillRequested, this, &MainWindow::OpenDetail);
    ReportView *view = tab->view;
    m_openTabs.push_back(std::move(tab));
    const int index = m_tabs->addTab(view, QString());
    showReport(m_openTabs.back().get());
    m_tabs->setCurrentIndex(index);
    updateActions();
    return view;
}

void MainWindow::showReport(Tab *tab)
{
    ReportOutput report = ReportSession::Collect(*tab->app);
    report.cancelled = tab->cancelled && !report.Ok();
    tab->columns->Show(report);
    const int index = m_tabs->indexOf(tab->view);
    const QString name = report.Name().isEmpty() ? ReportSession::ReportName(tab->app->RptID()) : report.Name();
    if (index >= 0)
        m_tabs->setTabText(index, TabTitle::ForReport(name, tab->app->Filter())
                                      + (tab->label.isEmpty() ? QString() : QLatin1Char(' ') + tab->label));
    if (tab->view == CurrentView()) {
        updateStatus();
        m_charts->Follow();
    }
}

ReportView *MainWindow::CurrentView() const
{
    return qobject_cast<ReportView *>(m_tabs->currentWidget());
}

void MainWindow::runSelected()
{
    const QListWidgetItem *item = m_reports->currentItem();
    if (item)
        OpenReport(item->data(Qt::UserRole).toInt());
}

void MainWindow::refreshCurrent()
{
    Tab *tab = currentTab();
    if (!tab || !prepareConnection())
        return;
    // A failed run leaves "OK" False, on which GetReportData does nothing; writing the tab's
    // filter back makes the run happen, on the connection and context just published.
    tab->app->SetFilter(tab->app->Filter());
    tab->Run();
    tab->connection = m_connection;
    tab->overrideProps = m_overrideProps;
    showReport(tab);
}

ReportView *MainWindow::OpenDetail(DrillDown::Target target)
{
    if (target.rptId == 0) {
        statusBar()->showMessage(target.note, 10000);
        return nullptr;
    }
    if (!target.branchName.isEmpty()) {
        if (!prepareConnection())
            return nullptr;
        QString number;
        try {
            number = ReportSession::BranchNumber(target.branchName);
        } catch (const VelError &e) {
            QMessageBox::warning(this, windowTitle(), e.Description());
            return nullptr;
        }
        if (number.isEmpty()) {
            statusBar()->showMessage(
                QStringLiteral("分店列表里没有唯一名为“%1”的分店，明细无法按分店过滤").arg(target.branchName), 10000);
            return nullptr;
        }
        DrillDown::SetBranch(target, number);
    }
    return OpenReport(target.rptId, target.filter, target.label);
}

void MainWindow::saveTabs()
{
    QSettings settings;
    QList<SavedTab> tabs;
    if (settings.value(QStringLiteral("view/restoreTabs"), false).toBool()) {
        for (int i = 0; i < m_tabs->count(); ++i)
            for (const auto &tab : m_openTabs)
                if (tab->view == m_tabs->widget(i))
                    tabs << SavedTab{tab->app->RptID(), tab->app->Filter(), tab->label, tab->connection, tab->overrideProps};
    }
    SavedTabs::Save(settings, tabs);
}

void MainWindow::RestoreTabs()
{
    QSettings settings;
    if (!settings.value(QStringLiteral("view/restoreTabs"), false).toBool())
        return;
    const QList<SavedTab> tabs = SavedTabs::Load(settings);
    const ConnectionSettings current = m_connection;
    const QString currentOverride = m_overrideProps;
    for (const SavedTab &saved : tabs) {
        m_connection = saved.connection;
        // A password that was not kept comes from the current settings when they name the same login.
        if (!saved.connection.rememberPassword && saved.connection.Describe() == current.Describe())
            m_connection.password = current.password;
        m_overrideProps = saved.overrideProps;
        OpenReport(saved.rptId, saved.filter, saved.label);
    }
    m_connection = current;
    m_overrideProps = currentOverride;
    updateStatus();
}

void MainWindow::editConnection()
{
    ConnectionDialog dialog(m_connection, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const ConnectionSettings before = m_connection;
    m_connection = dialog.Settings();
    m_overrideProps.clear();
    if (before.rememberPassword && before.kind == ConnectionSettings::Kind::PostgreSQL
        && (!m_connection.rememberPassword || before.KeyringLogin() != m_connection.KeyringLogin()))
        PasswordKeyring::Forget(before.KeyringLogin());
    QSettings settings;
    const QString problem = m_connection.Save(settings);
    updateStatus();
    // The password still serves this run; the user learns it will not be there next time.
    if (!problem.isEmpty())
        QMessageBox::warning(this, QStringLiteral("记住密码"), problem);
}

void MainWindow::exportCurrent(QString kind)
{
    ReportView *view = CurrentView();
    if (!view)
        return;
    const QString name = m_tabs->tabText(m_tabs->currentIndex());
    const QString csv = QStringLiteral("CSV 文件 (*.csv)");
    const QString xlsx = QStringLiteral("Excel 工作簿 (*.xlsx)");
    const QString pdf = QStringLiteral("PDF 文件 (*.pdf)");
    QString filter = kind == QLatin1String("csv") ? csv : kind == QLatin1String("xlsx") ? xlsx : pdf;
    QString selected = kind.isEmpty() ? xlsx : filter;
    if (kind.isEmpty())
        filter = QStringList{xlsx, csv, pdf}.join(QStringLiteral(";;"));
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出"), name + QLatin1Char('.') + (kind.isEmpty() ? QStringLiteral("xlsx") : kind),
                                                filter, &selected);
    if (path.isEmpty())
        return;
    if (kind.isEmpty()) {
        const QString suffix = QFileInfo(path).suffix().toLower();
        kind = suffix == QLatin1String("csv") || suffix == QLatin1String("pdf") || suffix == QLatin1String("xlsx")
            ? suffix : selected == csv ? QStringLiteral("csv") : selected == pdf ? QStringLiteral("pdf") : QStringLiteral("xlsx");
    }
    if (!path.endsWith(QLatin1Char('.') + kind, Qt::CaseInsensitive))
        path += QLatin1Char('.') + kind;
    const ReportExport::Kind exportKind = kind == QLatin1String("csv") ? ReportExport::Kind::Csv
        : kind == QLatin1String("xlsx") ? ReportExport::Kind::Xlsx : ReportExport::Kind::Pdf;
    const bool bom = QSettings().value(QStringLiteral("export/csvByteOrderMark"), false).toBool();
    switch (ReportExport::Run(this, *view, exportKind, path, {bom})) {
    case ReportExport::Outcome::Written:
        statusBar()->showMessage(QStringLiteral("已导出到 %1").arg(path), 5000);
        break;
    case ReportExport::Outcome::Cancelled:
        statusBar()->showMessage(QStringLiteral("已取消导出"), 5000);
        break;
    case ReportExport::Outcome::Failed:
        break;
    }
}

void MainWindow::printCurrent()
{
    if (ReportView *view = CurrentView())
        view->PrintPreview();
}

void MainWindow::updateActions()
{
    ReportView *view = CurrentView();
    // Nothing to export, print or find in a failed or empty result.
    const bool hasRows = view && view->ErrorText().isEmpty() && view->Model()->HasData();
    for (QAction *a : m_reportActions)
        a->setEnabled(hasRows);
    m_refresh->setEnabled(view != nullptr);
    m_charts->Follow();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings settings;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    saveTabs();
    QMainWindow::closeEvent(event);
}
