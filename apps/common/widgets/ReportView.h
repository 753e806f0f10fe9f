#pragma once

#include "ReportOutput.h"

#include <QWidget>

class FrozenTableView;
class QLabel;
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
    QString ErrorText() const;

    // Each throws VelError when the file cannot be written.
    void ExportCsv(const QString &path) const;
    void ExportXlsx(const QString &path) const;
    void ExportPdf(const QString &path) const;
    void PrintPreview();

signals:
    void ColumnsChanged();

private:
    void showHeaderMenu(const QPoint &globalPos);
    void sizeColumns();

    QLabel *m_name;
    QLabel *m_titleLines;
    QLabel *m_period;
    QLabel *m_error;
    FrozenTableView *m_table;
    ReportTableModel *m_model;
};
