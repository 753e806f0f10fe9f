#pragma once

#include "ReportGrid.h"
#include "ReportWriters.h"

#include <QStringList>

#include <string>
#include <string_view>

// The worksheet of an XLSX workbook, streamed row by row into a ByteSink. The package around
// it (archive, workbook, styles) is written by WriteXlsx.
namespace Present::Xlsx {

constexpr std::string_view kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// Cell styles by their place in the styles part: plain, title, header, then one per column
// kind and row kind.
constexpr int kTitleStyle = 1;
constexpr int kHeaderStyle = 2;
constexpr int CellStyle(ColumnKind kind, RowKind row)
{
    return 3 + int(kind) * 3 + int(row);
}

// Where the parts of the sheet lie (rows and columns from 0): title block, a blank row,
// header rows, then the report's rows.
struct SheetFrame
{
    QStringList block;
    int top = 0;           // first header row
    int headerRows = 0;
    int lastColumn = 0;
    qint64 lastRow = 0;

    SheetFrame(const ReportOutput &report, const ReportGrid &grid)
        : block(report.TitleBlock()), top(block.isEmpty() ? 0 : int(block.size()) + 1),
          headerRows(grid.Layout().HeaderRows()), lastColumn(qMax(grid.Layout().Count(), 1) - 1),
          lastRow(top + headerRows + grid.RowCount() - 1)
    {}
    // The header's last row, where the autofilter sits, down to the last row.
    qint64 FilterTop() const { return top + headerRows - 1; }
};

// "A", "B", ..., "Z", "AA", ...
std::string ColumnName(int column);

// Text escaped for an element or an attribute; control characters left out.
void PutEscaped(ByteSink &out, QStringView text);

// The sheet part: title block, header, the report's rows, frozen panes, widths and merges.
// Throws Vel::Cancelled() when `progress` says stop.
void WriteSheet(const ReportOutput &report, const ReportGrid &grid, ByteSink &out, const RowProgress &progress);

} // namespace Present::Xlsx
