#pragma once

#include "ConnectionSettings.h"
#include "DrillDown.h"
#include "ReportOutput.h"

#include <QMainWindow>

#include <memory>

class Application;
class ChartActions;
class QAction;
class QLabel;
class QListWidget;
class QTabWidget;
class ReportView;

// The desktop host: the six reports on the left, one tab per report run on the right.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Uses this connection for the session instead of the saved one (not saved).
    void OverrideConnection(const QString &propsString);

    // Runs a report into a new tab: through its filter dialog, or with the given filter.
    // Returns the tab's view, or nullptr when the user cancelled or the connection failed.
    // label says what a drill-down tab is filtered to; it is added to the tab's title.
    ReportView *OpenReport(qint32 rptId, const DictionaryPtr &filter = nullptr, const QString &label = {});
    // Opens a drill-down target (ReportView::DrillRequested): a branch it names is looked up
    // by number first. A target that leads nowhere puts its note in the status bar.
    ReportView *OpenDetail(DrillDown::Target target);
    ReportView *CurrentView() const;
    QTabWidget *Tabs() const { return m_tabs; }
    // The status line: detail rows, time taken and the connection of the current tab.
    QString StatusText() const;

    // Runs again the tabs open when the window last closed, each with its filter and
    // connection, when 视图 → 启动时恢复标签页 is on.
    void RestoreTabs();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Tab;

    void createActions();
    void closeTab(int index);
    Tab *currentTab() const;
    // The connection in use, password masked.
    QString connectionText() const;
    void updateStatus();
    void runSelected();
    void refreshCurrent();
    void editConnection();
    // kind "csv", "xlsx" or "pdf"; empty lets the user choose by file type.
    void exportCurrent(QString kind);
    void printCurrent();
    void updateActions();
    // Publishes the context and the connection text; false when there is no connection.
    bool prepareConnection();
    void showReport(Tab *tab);
    void saveTabs();

    QListWidget *m_reports;
    QTabWidget *m_tabs;
    QLabel *m_status;
    QList<QAction *> m_reportActions;
    QAction *m_refresh = nullptr;
    ChartActions *m_charts = nullptr;
    ConnectionSettings m_connection;
    QString m_overrideProps;
    std::vector<std::unique_ptr<Tab>> m_openTabs;
};
