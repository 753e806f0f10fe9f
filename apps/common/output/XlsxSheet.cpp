#include "XlsxSheet.h"

#include "DisplayWidth.h"
#include "Recordset.h"
#include "VelError.h"

#include <QDate>

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

// The worksheet's XML, cell by cell into the sink: numbers in their shortest text, dates as
// serials, text inline.
namespace Present::Xlsx {

namespace {

// Characters XML 1.0 cannot carry at all.
bool dropped(char16_t c)
{
    return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF;
}

} // namespace

// Text escaped for an element or an attribute; control characters left out.
void PutEscaped(ByteSink &out, QStringView text)
{
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x3F && c < 0xFFFE)
            continue;
        const char *entity = nullptr;
        switch (c) {
        case u'&': entity = "&amp;"; break;
        case u'<': entity = "&lt;"; break;
        case u'>': entity = "&gt;"; break;
        case u'"': entity = "&quot;"; break;
        case u'\r': entity = "&#13;"; break;
        default:
            if (!dropped(c))
                continue;
        }
        out.PutText(text.mid(from, i - from));
        if (entity)
            out.Put(entity);
        from = i + 1;
    }
    out.PutText(text.mid(from));
}

std::string ColumnName(int column)
{
    std::string name;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), char('A' + (n - 1) % 26));
    return name;
}

namespace {

// A number in its shortest text that reads back as the same double.
std::string_view numberText(double d, char (&buffer)[32])
{
    std::to_chars_result done;
    if (d == std::floor(d) && std::fabs(d) < 1e15) {
        done = std::to_chars(buffer, buffer + sizeof buffer, qint64(d));
    } else if (const qint64 cents = std::fabs(d) < 1e13 ? std::llround(d * 100) : 0;
               cents && double(cents) / 100 == d) {
        // Most amounts: whole hundredths, whose text is shortest as it stands (any other text
        // that reads back as `d` is nearer than a hundredth, so it has more digits).
        char *p = buffer;
        if (cents < 0)
            *p++ = '-';
        const qint64 u = cents < 0 ? -cents : cents;
        p = std::to_chars(p, buffer + sizeof buffer, u / 100).ptr;
        *p++ = '.';
        *p++ = char('0' + u % 100 / 10);
        if (u % 10)
            *p++ = char('0' + u % 10);
        return {buffer, size_t(p - buffer)};
    } else {
        done = std::to_chars(buffer, buffer + sizeof buffer, d);
    }
    return {buffer, size_t(done.ptr - buffer)};
}

// Days since 1970-01-01 as an Excel date serial; 0 before 1900, which Excel cannot show.
double dateSerial(qint64 days)
{
    constexpr qint64 epoch = 25569;          // 1970-01-01
    constexpr qint64 leapBug = -25508;       // 1900-03-01: Excel counts a 29 February 1900
    if (days >= leapBug)
        return double(days + epoch);
    if (days >= -25567)                      // 1900-01-01
        return double(days + epoch - 1);
    return 0;
}

void putInt(ByteSink &out, qint64 n)
{
    char buffer[24];
    const auto done = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.Put(std::string_view(buffer, size_t(done.ptr - buffer)));
}

// An inline string cell's text: "<is><t>...</t></is>".
void putInlineText(ByteSink &out, QStringView text)
{
    // The common text (no markup, no control characters, no surrounding spaces) is encoded
    // straight into the sink; anything else is given up half-way and written escaped below.
    const size_t most = 3 * size_t(text.size()) + 20;
    const bool edges = !text.isEmpty() && (text.front() == u' ' || text.back() == u' ');
    if (most <= ByteSink::Capacity() && !edges) {
        char *const start = out.Reserve(most);
        char *p = start;
        std::memcpy(p, "<is><t>", 7);
        p += 7;
        size_t bytes = 0;
        const qsizetype done = EncodeUtf8While(text, p, bytes, [](char16_t c) {
            return c >= 0x3F ? c < 0xFFFE : !(c < 0x20 || c == u'&' || c == u'<' || c == u'>');
        });
        p += bytes;
        if (done == text.size()) {
            std::memcpy(p, "</t></is>", 9);
            out.Commit(size_t(p + 9 - start));
            return;
        }
    }
    bool preserve = edges;
    for (const QChar c : text)
        preserve = preserve || c == u'\n' || c == u'\t' || c == u'\r';
    out.Put(preserve ? std::string_view("<is><t xml:space=\"preserve\">") : std::string_view("<is><t>"));
    PutEscaped(out, text);
    out.Put("</t></is>");
}

// The sheet's cells: each opened with its reference and style, then ended as blank, number
// or inline string.
class SheetRows
{
public:
    SheetRows(ByteSink &out, int columns) : m_out(out)
    {
        for (int c = 0; c < columns; ++c)
            m_names.push_back("<c r=\"" + ColumnName(c));
    }

    void BeginRow(qint64 row)
    {
        m_row = row + 1;
        char *const start = m_out.Reserve(32);
        char *p = start;
        std::memcpy(p, "<row r=\"", 8);
        p += 8;
        const auto done = std::to_chars(p, p + 20, m_row);
        m_rowText.assign(p, done.ptr);
        p = done.ptr;
        *p++ = '"';
        *p++ = '>';
        m_out.Commit(size_t(p - start));
    }
    void EndRow() { m_out.Put("</row>"); }

    void Blank(int column, int style)
    {
        open(column, style);
        m_out.Put("/>");
    }
    void Number(int column, int style, double value)
    {
        if (!std::isfinite(value)) {
            Blank(column, style);
            return;
        }
        open(column, style);
        char buffer[32];
        m_out.Put("><v>");
        m_out.Put(numberText(value, buffer));
        m_out.Put("</v></c>");
    }
    void Text(int column, int style, QStringView text)
    {
        open(column, style);
        m_out.Put(" t=\"inlineStr\">");
        putInlineText(m_out, text);
        m_out.Put("</c>");
    }

private:
    // `<c r="B8" s="4"` without the closing bracket.
    void open(int column, int style)
    {
        const std::string &name = m_names[size_t(column)];
        char *const start = m_out.Reserve(name.size() + m_rowText.size() + 16);
        char *p = start;
        std::memcpy(p, name.data(), name.size());
        p += name.size();
        std::memcpy(p, m_rowText.data(), m_rowText.size());
        p += m_rowText.size();
        std::memcpy(p, "\" s=\"", 5);
        p += 5;
        p = std::to_chars(p, p + 8, style).ptr;
        *p++ = '"';
        m_out.Commit(size_t(p - start));
    }

    ByteSink &m_out;
    std::vector<std::string> m_names;
    std::string m_rowText;
    qint64 m_row = 0;
};

// A value by the general path: dates as serials, numbers as numbers, anything else as text.
void writeValue(SheetRows &sheet, int col, const QVariant &value, const ReportColumn &column, int style)
{
    if (!value.isValid() || value.isNull()) {
        sheet.Blank(col, style);
        return;
    }
    const int type = value.metaType().id();
    if (column.kind == ColumnKind::Date) {
        const QDate date = type == QMetaType::QString
            ? QDate::fromString(value.toString().left(10), QStringLiteral("yyyy-MM-dd"))
            : value.toDate();
        if (date.isValid() && date.year() >= 1900) {
            sheet.Number(col, style, dateSerial(date.toJulianDay() - QDate(1970, 1, 1).toJulianDay()));
            return;
        }
    }
    double number = 0;
    const bool numberValue = type != QMetaType::QString && type != QMetaType::Bool && type != QMetaType::QDateTime
        && type != QMetaType::QDate && NumericValue(value, &number);
    if ((IsNumericKind(column.kind) && NumericValue(value, &number)) || numberValue) {
        sheet.Number(col, style, number);
        return;
    }
    sheet.Text(col, style, FormatValue(value, column.kind, FormatStyle::Plain));
}

// A cell by the record set's own type where that is cheap; other values through their Variant.
void writeCell(SheetRows &sheet, const ReportGrid &grid, qint64 r, int c, int style)
{
    const int field = grid.FieldOf(c);
    const Recordset &rs = *grid.Records();
    const qint64 source = grid.SourceRow(r);
    if (field < 0 || rs.IsNull(source, field)) {
        sheet.Blank(c, style);
        return;
    }
    const ReportColumn &column = grid.Layout().Columns().at(c);
    const auto type = rs.FieldTypeOf(field);
    if (type == Recordset::FieldType::Integer || type == Recordset::FieldType::Double) {
        sheet.Number(c, style, rs.DoubleAt(source, field));
        return;
    }
    if (type == Recordset::FieldType::Text && column.kind == ColumnKind::Text) {
        sheet.Text(c, style, rs.TextViewAt(source, field));
        return;
    }
    if (type == Recordset::FieldType::DateTime && column.kind == ColumnKind::Date) {
        const qint64 ms = rs.WallClockMsecsAt(source, field);
        const qint64 days = ms >= 0 ? ms / 86400000 : -((-ms + 86400000 - 1) / 86400000);
        if (const double serial = dateSerial(days); serial > 0) {
            sheet.Number(c, style, serial);
            return;
        }
    }
    writeValue(sheet, c, grid.Value(r, c), column, style);
}

// Column widths as the grid shows the first screens and every summary row.
QList<int> columnWidths(const ReportGrid &grid)
{
    const ColumnLayout &layout = grid.Layout();
    QList<int> widths;
    for (const ReportColumn &c : layout.Columns())
        widths << qMax(DisplayWidth(c.topCaption), DisplayWidth(c.subCaption));
    CellBuffer buffer;
    const qint64 rows = grid.RowCount();
    for (qint64 r = 0; r < rows; ++r) {
        if (r >= 1000 && grid.KindOf(r) == RowKind::Detail)
            continue;
        for (int c = 0; c < layout.Count(); ++c)
            widths[c] = qMax(widths[c], DisplayWidth(grid.TextView(r, c, FormatStyle::Grid, buffer)));
    }
    return widths;
}

std::string cellRef(int column, qint64 row)
{
    return ColumnName(column) + std::to_string(row + 1);
}

// The sheet view: title block and header stay on screen, and so do the first columns.
void putSheetView(ByteSink &out, const ReportOutput &report, const SheetFrame &frame, int columns)
{
    out.Put("<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\">");
    const int frozenRows = frame.top + frame.headerRows;
    const int frozenColumns = qBound(0, report.FrozenColumns(), columns);
    if (frozenRows > 0 || frozenColumns > 0) {
        const char *pane = frozenRows && frozenColumns ? "bottomRight" : frozenRows ? "bottomLeft" : "topRight";
        out.Put("<pane");
        if (frozenColumns) {
            out.Put(" xSplit=\"");
            putInt(out, frozenColumns);
            out.Put('"');
        }
        if (frozenRows) {
            out.Put(" ySplit=\"");
            putInt(out, frozenRows);
            out.Put('"');
        }
        out.Put(" topLeftCell=\"");
        out.Put(cellRef(frozenColumns, frozenRows));
        out.Put("\" activePane=\"");
        out.Put(pane);
        out.Put("\" state=\"frozen\"/><selection pane=\"");
        out.Put(pane);
        out.Put("\"/>");
    }
    out.Put("</sheetView></sheetViews>");
}

void putColumnWidths(ByteSink &out, const ReportGrid &grid)
{
    const int columns = grid.Layout().Count();
    if (columns <= 0)
        return;
    out.Put("<cols>");
    const QList<int> widths = columnWidths(grid);
    for (int c = 0; c < columns; ++c) {
        // Characters of the default font's digit (7 pixels, 5 of padding) as Excel stores them.
        const int chars = qBound(6, widths[c] + 2, 60);
        char buffer[32];
        out.Put("<col min=\"");
        putInt(out, c + 1);
        out.Put("\" max=\"");
        putInt(out, c + 1);
        out.Put("\" width=\"");
        out.Put(numberText(double(chars * 7 + 5) / 7, buffer));
        out.Put("\" customWidth=\"1\"/>");
    }
    out.Put("</cols>");
}

// The header: every cell styled, the text in the first cell of each merged range.
void writeHeaderRows(SheetRows &sheet, const ColumnLayout &layout, const SheetFrame &frame)
{
    const int columns = layout.Count();
    const QList<HeaderCell> cells = layout.Cells();
    for (int h = 0; h < frame.headerRows; ++h) {
        QList<const HeaderCell *> starts(columns, nullptr);
        for (const HeaderCell &cell : cells) {
            if (cell.row == h && cell.column >= 0 && cell.column < columns)
                starts[cell.column] = &cell;
        }
        sheet.BeginRow(frame.top + h);
        for (int c = 0; c < columns; ++c) {
            if (starts[c])
                sheet.Text(c, kHeaderStyle, starts[c]->text);
            else
                sheet.Blank(c, kHeaderStyle);
        }
        sheet.EndRow();
    }
}

void writeReportRows(SheetRows &sheet, const ReportGrid &grid, const SheetFrame &frame, const RowProgress &progress)
{
    const ColumnLayout &layout = grid.Layout();
    const int columns = layout.Count();
    QList<int> styles[3];
    for (int k = 0; k < 3; ++k) {
        for (const ReportColumn &column : layout.Columns())
            styles[k] << CellStyle(column.kind, RowKind(k));
    }
    const qint64 rows = grid.RowCount();
    for (qint64 r = 0; r < rows; ++r) {
        const QList<int> &style = styles[int(grid.KindOf(r))];
        sheet.BeginRow(frame.top + frame.headerRows + r);
        for (int c = 0; c < columns; ++c)
            writeCell(sheet, grid, r, c, style[c]);
        sheet.EndRow();
        if (progress && r % 1000 == 999 && !progress(r + 1, rows))
            throw Vel::Cancelled();
    }
}

// The header's ranges that span more than one cell.
void putMergeCells(ByteSink &out, const ColumnLayout &layout, const SheetFrame &frame)
{
    QList<HeaderCell> merged;
    for (const HeaderCell &cell : layout.Cells()) {
        if ((cell.columnSpan > 1 || cell.rowSpan > 1) && cell.row + cell.rowSpan <= frame.headerRows)
            merged << cell;
    }
    if (merged.isEmpty())
        return;
    out.Put("<mergeCells count=\"");
    putInt(out, merged.size());
    out.Put("\">");
    for (const HeaderCell &cell : merged) {
        out.Put("<mergeCell ref=\"");
        out.Put(cellRef(cell.column, frame.top + cell.row));
        out.Put(':');
        out.Put(cellRef(cell.column + cell.columnSpan - 1, frame.top + cell.row + cell.rowSpan - 1));
        out.Put("\"/>");
    }
    out.Put("</mergeCells>");
}

} // namespace

void WriteSheet(const ReportOutput &report, const ReportGrid &grid, ByteSink &out, const RowProgress &progress)
{
    const ColumnLayout &layout = grid.Layout();
    const int columns = layout.Count();
    const SheetFrame frame(report, grid);

    out.Put(kXmlHead);
    out.Put("<worksheet xmlns=\"");
    out.Put(kMain);
    out.Put("\" xmlns:r=\"");
    out.Put(kRel);
    // Printed across one page wide, as many pages down as it takes.
    out.Put("\"><sheetPr><pageSetUpPr fitToPage=\"1\"/></sheetPr><dimension ref=\"A1:");
    out.Put(cellRef(frame.lastColumn, qMax<qint64>(frame.lastRow, 0)));
    out.Put("\"/>");
    putSheetView(out, report, frame, columns);
    out.Put("<sheetFormatPr defaultRowHeight=\"15\"/>");
    putColumnWidths(out, grid);

    out.Put("<sheetData>");
    SheetRows sheet(out, qMax(columns, 1));
    for (int i = 0; i < frame.block.size(); ++i) {
        sheet.BeginRow(i);
        sheet.Text(0, i == 0 ? kTitleStyle : 0, frame.block.at(i));
        sheet.EndRow();
    }
    writeHeaderRows(sheet, layout, frame);
    writeReportRows(sheet, grid, frame, progress);
    out.Put("</sheetData>");
    if (frame.headerRows > 0) {
        out.Put("<autoFilter ref=\"");
        out.Put(cellRef(0, frame.FilterTop()));
        out.Put(':');
        out.Put(cellRef(frame.lastColumn, qMax(frame.lastRow, frame.FilterTop())));
        out.Put("\"/>");
    }
    putMergeCells(out, layout, frame);
    out.Put("<pageMargins left=\"0.4\" right=\"0.4\" top=\"0.6\" bottom=\"0.6\" header=\"0.3\" footer=\"0.3\"/>"
            "<pageSetup paperSize=\"9\" orientation=\"landscape\" fitToWidth=\"1\" fitToHeight=\"0\"/>"
            "</worksheet>");
    out.Flush();
}

} // namespace Present::Xlsx
