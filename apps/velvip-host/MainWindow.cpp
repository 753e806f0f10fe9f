#include "MainWindow.h"

#include "ConnectionDialog.h"
#include "Dictionary.h"
#include "FilterDates.h"
#include "ReportSession.h"
#include "ReportView.h"
#include "VelError.h"
#include "facade/Application.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

// A tab keeps its Application, so that a refresh reruns the same report and filter.
struct MainWindow::Tab
{
    std::unique_ptr<Application> app = std::make_unique<Application>();
    ReportView *view = nullptr;
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
    connect(m_tabs, &QTabWidget::tabCloseRequested, this, [this](int index) {
        QWidget *page = m_tabs->widget(index);
        m_tabs->removeTab(index);
        std::erase_if(m_openTabs, [page](const std::unique_ptr<Tab> &t) { return t->view == page; });
        page->deleteLater();
        updateActions();
    });
    connect(m_tabs, &QTabWidget::currentChanged, this, &MainWindow::updateActions);

    auto *splitter = new QSplitter(this);
    splitter->addWidget(m_reports);
    splitter->addWidget(m_tabs);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({220, 1000});
    setCentralWidget(splitter);
    statusBar()->addWidget(m_status, 1);

    createActions();
    QSettings settings;
    m_connection = ConnectionSettings::Load(settings);
    if (!restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray()))
        resize(1280, 760);
    m_status->setText(m_connection.Describe());
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
    bar->addSeparator();
    m_reportActions << bar->addAction(QStringLiteral("导出 CSV"), this, [this] { exportCurrent(QStringLiteral("csv")); });
    m_reportActions << bar->addAction(QStringLiteral("导出 Excel"), this, [this] { exportCurrent(QStringLiteral("xlsx")); });
    m_reportActions << bar->addAction(QStringLiteral("导出 PDF"), this, [this] { exportCurrent(QStringLiteral("pdf")); });
    m_reportActions << bar->addAction(QStringLiteral("打印预览"), this, &MainWindow::printCurrent);
    bar->addSeparator();
    bar->addAction(QStringLiteral("连接设置"), this, &MainWindow::editConnection);
}

void MainWindow::OverrideConnection(const QString &propsString)
{
    m_overrideProps = propsString;
    m_status->setText(ReportSession::MaskedPropsString(propsString));
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

ReportView *MainWindow::OpenReport(qint32 rptId, const DictionaryPtr &filter)
{
    if (!prepareConnection())
        return nullptr;
    auto tab = std::make_unique<Tab>();
    Application &app = *tab->app;
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
    app.GetReportData();
    tab->view = new ReportView(m_tabs);
    showReport(tab.get());
    const int index = m_tabs->addTab(tab->view, ReportSession::ReportName(rptId));
    m_tabs->setCurrentIndex(index);
    ReportView *view = tab->view;
    m_openTabs.push_back(std::move(tab));
    updateActions();
    return view;
}

void MainWindow::showReport(Tab *tab)
{
    const ReportOutput report = ReportSession::Collect(*tab->app);
    tab->view->SetReport(report);
    const int index = m_tabs->indexOf(tab->view);
    if (index >= 0)
        m_tabs->setTabText(index, report.Name().isEmpty() ? ReportSession::ReportName(tab->app->RptID()) : report.Name());
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
    ReportView *view = CurrentView();
    for (const auto &tab : m_openTabs) {
        if (tab->view != view)
            continue;
        if (!prepareConnection())
            return;
        tab->app->GetReportData();
        showReport(tab.get());
        return;
    }
}

void MainWindow::editConnection()
{
    ConnectionDialog dialog(m_connection, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_connection = dialog.Settings();
    m_overrideProps.clear();
    QSettings settings;
    m_connection.Save(settings);
    m_status->setText(m_connection.Describe());
}

void MainWindow::exportCurrent(const QString &kind)
{
    ReportView *view = CurrentView();
    if (!view)
        return;
    const QString name = m_tabs->tabText(m_tabs->currentIndex());
    const QString filter = kind == QLatin1String("csv") ? QStringLiteral("CSV 文件 (*.csv)")
        : kind == QLatin1String("xlsx") ? QStringLiteral("Excel 工作簿 (*.xlsx)") : QStringLiteral("PDF 文件 (*.pdf)");
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出"), name + QLatin1Char('.') + kind, filter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1Char('.') + kind, Qt::CaseInsensitive))
        path += QLatin1Char('.') + kind;
    try {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (kind == QLatin1String("csv"))
            view->ExportCsv(path);
        else if (kind == QLatin1String("xlsx"))
            view->ExportXlsx(path);
        else
            view->ExportPdf(path);
        QApplication::restoreOverrideCursor();
        statusBar()->showMessage(QStringLiteral("已导出到 %1").arg(path), 5000);
    } catch (const VelError &e) {
        QApplication::restoreOverrideCursor();
        QMessageBox::warning(this, QStringLiteral("导出"), e.Description());
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
    const bool hasRows = view && view->ErrorText().isEmpty();
    for (QAction *a : m_reportActions)
        a->setEnabled(hasRows);
    m_refresh->setEnabled(view != nullptr);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings settings;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    QMainWindow::closeEvent(event);
}
