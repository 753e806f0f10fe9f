#pragma once

#include "ReportGrid.h"
#include "ReportOutput.h"

#include <QAbstractTableModel>

// The rows of a report for the grid. Every column of the header is a model column (hidden
// ones too, so that the user can show them); cells are formatted only when a view asks.
class ReportTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Roles {
        RowKindRole = Qt::UserRole + 1,
        RawValueRole,
        PlainTextRole   // the value without thousands separators, as a spreadsheet reads it
    };

    explicit ReportTableModel(QObject *parent = nullptr);

    void SetReport(const ReportOutput &report);
    const ReportOutput &Report() const { return m_report; }
    const ColumnLayout &Layout() const { return m_grid.Layout(); }
    // The record-set row shown at a model row.
    qint64 SourceRow(int row) const { return m_grid.SourceRow(row); }
    // Rows that are not subtotals or totals.
    qint64 DetailRowCount() const { return m_detailRows; }
    // Rows other than a lone grand total (a summary-only report has no detail rows).
    bool HasData() const { return m_grid.HasData(); }
    // The subtotal and total rows; sorting keeps them where they are.
    const QList<int> &SummaryRows() const { return m_summaryRows; }
    // The rows in the order shown, for exports of what the user sees.
    std::shared_ptr<const std::vector<qint64>> RowOrder() const { return m_order; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Sorting keeps every summary row where it is and sorts the detail rows between two
    // summary rows among themselves: a subtotal stays under the rows it sums and the grand
    // total stays last, so the figures the user reads still add up. Reports without
    // "EnableSort" are not sorted.
    void sort(int column, Qt::SortOrder order) override;

private:
    ReportOutput m_report;
    ReportGrid m_grid;
    std::shared_ptr<const std::vector<qint64>> m_order;
    qint64 m_detailRows = 0;
    QList<int> m_summaryRows;
};
