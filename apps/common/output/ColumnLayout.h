#pragma once

#include "HeaderColumns.h"
#include "Types.h"
#include "ValueFormat.h"

#include <QList>
#include <QString>

// One report column as the header's column entry describes it, with the kind of its values.
struct ReportColumn : HeaderColumn
{
    ColumnKind kind = ColumnKind::Text;
};

// A cell of the two-row header: its place in the column list it was built for.
struct HeaderCell
{
    int row = 0;
    int column = 0;
    int rowSpan = 1;
    int columnSpan = 1;
    QString text;

    bool operator==(const HeaderCell &o) const = default;
};

// The header's column entries (ReadHeaderColumns) as columns and two header rows.
class ColumnLayout
{
public:
    static ColumnLayout FromHeader(const VectorPtr &header);
    explicit ColumnLayout(QList<ReportColumn> columns = {}) : m_columns(std::move(columns)) {}

    const QList<ReportColumn> &Columns() const { return m_columns; }
    int Count() const { return int(m_columns.size()); }
    // The columns that text outputs print ("FVisible" 1), in display order.
    ColumnLayout VisibleOnly() const;
    // 1 when no column is grouped, else 2.
    int HeaderRows() const;
    // The header cells over all columns of this layout, row by row, left to right.
    QList<HeaderCell> Cells() const;
    // Positions [first, last] of the columns sharing the group of column c.
    std::pair<int, int> GroupRange(int c) const;

private:
    QList<ReportColumn> m_columns;
};
