#pragma once

#include "ColumnLayout.h"
#include "Recordset.h"
#include "ReportOutput.h"
#include "Types.h"
#include "ValueFormat.h"

#include <QList>
#include <QVariant>

#include <memory>
#include <vector>

// Summary rows as the record set's "FRowKind" marks them.
enum class RowKind { Detail = 0, Subtotal = 1, Total = 2 };

// Room for one formatted cell. Text cells are read in place and never copied into it.
struct CellBuffer
{
    char16_t chars[Present::kCellChars];
    QString spill;   // values that need the general path
};

// A column layout bound to a record set: the cells of the report, read on demand.
// Columns whose field the record set lacks show empty cells.
class ReportGrid
{
public:
    ReportGrid() = default;
    ReportGrid(ColumnLayout layout, RecordsetPtr rs);
    // The report's columns (only the shown ones when asked) in its row order.
    ReportGrid(const ReportOutput &report, bool visibleOnly);

    const ColumnLayout &Layout() const { return m_layout; }
    const RecordsetPtr &Records() const { return m_rs; }
    qint64 RowCount() const;
    int ColumnCount() const { return m_layout.Count(); }

    // Rows in another order than the record set's (a sorted view); nullptr keeps its order.
    void SetRowOrder(std::shared_ptr<const std::vector<qint64>> order) { m_order = std::move(order); }
    // The record-set row shown at a position.
    qint64 SourceRow(qint64 row) const { return m_order ? (*m_order)[size_t(row)] : row; }

    RowKind KindOf(qint64 row) const;
    // Whether any row is other than a grand total: a lone total of nothing means no data.
    bool HasData() const;
    // The rows "共 N 行" counts: the detail rows, or the subtotal rows of a report that shows
    // only its summary rows; never the grand total.
    qint64 CountedRows() const;
    static qint64 CountedRows(qint64 details, qint64 subtotals) { return details ? details : subtotals; }
    // Whether a row in [from, to) is not a total row.
    bool HasData(qint64 from, qint64 to) const;
    QVariant Value(qint64 row, int column) const;
    QString Text(qint64 row, int column, FormatStyle style) const;
    // The same text without allocating in the common case: valid until `buffer` is used again
    // or the record set changes.
    QStringView TextView(qint64 row, int column, FormatStyle style, CellBuffer &buffer) const;
    // Numbers of numeric columns (also in text columns holding numbers) align right.
    bool AlignRight(qint64 row, int column) const;
    // Whether the column's cells align right: numeric kinds, and fields holding numbers.
    bool AlignRight(int column) const;
    // Whether the column sorts as numbers: its field holds numbers, moments or switches.
    bool SortsAsNumber(int column) const;
    // The record-set rows in the order of a sort by `column`, as every host sorts: the detail
    // rows between two summary rows are sorted (stable, empty cells first, numbers and moments
    // by value, text by character codes); summary rows keep their places. The grid's own row
    // order is not read.
    std::shared_ptr<const std::vector<qint64>> SortedOrder(int column, bool descending) const;
    // The record-set field shown in the column, -1 when it is missing.
    int FieldOf(int column) const { return m_fields.value(column, -1); }

private:
    ColumnLayout m_layout;
    RecordsetPtr m_rs;
    QList<int> m_fields;
    std::vector<Recordset::FieldType> m_types;   // of each column's field
    int m_rowKindField = -1;
    std::shared_ptr<const std::vector<qint64>> m_order;
};
