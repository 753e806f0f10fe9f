#pragma once

#include "Types.h"
#include "ValueFormat.h"

#include <QList>
#include <QString>

// One report column as the header's column entry describes it.
struct ReportColumn
{
    QString field;        // "FColName"
    ColumnKind kind = ColumnKind::Text;
    bool visible = true;
    QString topCaption;   // first-row caption without the "$" / "+|" marks
    QString subCaption;   // second-row caption of a grouped column
    int group = -1;       // index of the first column of its group, -1 for a single-row column

    bool IsGrouped() const { return group >= 0; }
    // The caption that names the column alone (CSV, menus): "期初-储值卡金额" for a grouped one.
    QString FlatCaption() const;
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

// The header's column entries read into columns and two header rows. A caption ending in
// "$" is a single-row column spanning both rows; a caption ending in "+|" repeated n − 1
// times opens a group of n columns whose shared caption spans the first row, each member
// showing its "FHeadSecond" in the second row.
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
