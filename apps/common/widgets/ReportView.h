#pragma once

#include "DrillDown.h"
#include "ReportOutput.h"
#include "ReportPrinter.h"
#include "ReportWriters.h"

#include <QWidget>

class FindBar;
class FrozenTableView;
class GridCellDelegate;
class QLabel;
class ReportChart;
class ReportTableModel;

// One report as the user sees it: name, title block and period above the grid, or the error
// text when the run failed. Exports and printing take what is shown: the shown columns in
// the shown row order.
class ReportView : public QWidget
{
    Q_OBJECT

public:
    explicit ReportView(QWidget *parent = nullptr);

    void SetReport(const ReportOutput &report);
    // The report with the columns the user shows and the rows in the order shown.
    ReportOutput ShownReport() const;

    FrozenTableView *Table() const { return m_table; }
    ReportTableModel *Model() const { return m_model; }
    FindBar *Find() const { return m_find; }
    QString ErrorText() const;
    // True when the run succeeded without a detail row: the grid gives way to a notice.
    bool IsEmptyResult() const;

    // The chart under the grid ("图表"), for reports that have one. A shown chart is added to
    // the PDF and the print preview on a page of its own.
    ReportChart *Chart() const { return m_chart; }
    void SetChartShown(bool shown);
    bool ChartShown() const;

    // The columns that stay in place while the rest scroll: the report's own count until the
    // user picks another on the grid's context menu (冻结到此列, 取消冻结, 恢复默认冻结).
    // Exports and printing follow what is frozen.
    void SetFrozenColumns(int count);
    int FrozenColumns() const;
    int DefaultFrozenColumns() const;

    // Ctrl+C: the selection to the clipboard as tab-separated text.
    void CopySelection() const;

    // Each throws VelError when the file cannot be written, Vel::Cancelled() when the progress
    // callback stopped it; no partial file is left.
    void ExportCsv(const QString &path, const Present::CsvOptions &options = {},
                   const Present::RowProgress &progress = {}) const;
    void ExportXlsx(const QString &path, const Present::RowProgress &progress = {}) const;
    void ExportPdf(const QString &path, const Present::PageProgress &progress = {}) const;
    void PrintPreview();

signals:
    void ColumnsChanged();
    // The user froze other columns from the context menu.
    void FrozenColumnsChanged();
    // A double click on a row that leads to a detail report (see DrillDown), or on a row
    // whose detail cannot be filtered (rptId 0, the note says why).
    void DrillRequested(const DrillDown::Target &target);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The grid's context menu for `column` (-1: none under the mouse): copy (on the body),
    // freezing, and the shown columns (on the header).
    void showGridMenu(const QPoint &globalPos, int column, bool onHeader);
    void sizeColumns();

    QLabel *m_name;
    QLabel *m_titleLines;
    QLabel *m_period;
    QLabel *m_error;
    QString m_errorText;   // as written, without the breaks the label adds
    QLabel *m_empty;
    FindBar *m_find;
    FrozenTableView *m_table;
    ReportTableModel *m_model;
    QList<GridCellDelegate *> m_delegates;
    ReportChart *m_chart;
};
