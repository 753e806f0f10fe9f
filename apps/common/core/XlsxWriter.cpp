#include "AtomicFile.h"
#include "DisplayWidth.h"
#include "Recordset.h"
#include "ReportGrid.h"
#include "ReportWriters.h"
#include "VelError.h"
#include "XlsxNumbers.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <map>
#include <string>

namespace Present {

namespace {

constexpr lxw_color_t kHeaderFill = 0xDDE6F0;
constexpr lxw_color_t kSubtotalFill = 0xFFF4D6;
constexpr lxw_color_t kTotalFill = 0xFCE3B0;

// Excel's own limits on a sheet name.
QString sheetName(const QString &name)
{
    QString s = name;
    s.remove(QRegularExpression(QStringLiteral("[\\[\\]:*?/\\\\]")));
    s = s.left(31).trimmed();
    return s.isEmpty() ? QStringLiteral("Sheet1") : s;
}

class Formats
{
public:
    explicit Formats(lxw_workbook *wb) : m_wb(wb)
    {
        title = workbook_add_format(wb);
        format_set_bold(title);
        format_set_font_size(title, 14);
        header = workbook_add_format(wb);
        format_set_bold(header);
        format_set_align(header, LXW_ALIGN_CENTER);
        format_set_align(header, LXW_ALIGN_VERTICAL_CENTER);
        format_set_border(header, LXW_BORDER_THIN);
        format_set_bg_color(header, kHeaderFill);
    }

    lxw_format *Cell(ColumnKind kind, RowKind row)
    {
        const int key = int(kind) * 3 + int(row);
        auto it = m_cells.find(key);
        if (it != m_cells.end())
            return it->second;
        lxw_format *f = workbook_add_format(m_wb);
        format_set_border(f, LXW_BORDER_THIN);
        switch (kind) {
        case ColumnKind::Date: format_set_num_format(f, "yyyy-mm-dd"); break;
        case ColumnKind::UnitPrice: format_set_num_format(f, "0.00"); break;
        case ColumnKind::Amount: format_set_num_format(f, "#,##0.00"); break;
        case ColumnKind::Quantity:
        case ColumnKind::Text: break;
        }
        if (row != RowKind::Detail) {
            format_set_bold(f);
            format_set_bg_color(f, row == RowKind::Total ? kTotalFill : kSubtotalFill);
        }
        m_cells.emplace(key, f);
        return f;
    }

    lxw_format *title = nullptr;
    lxw_format *header = nullptr;

private:
    lxw_workbook *m_wb;
    std::map<int, lxw_format *> m_cells;
};

void writeValue(lxw_worksheet *ws, lxw_row_t row, lxw_col_t col, const QVariant &value,
                const ReportColumn &column, lxw_format *format)
{
    if (!value.isValid() || value.isNull()) {
        worksheet_write_blank(ws, row, col, format);
        return;
    }
    if (column.kind == ColumnKind::Date) {
        const QDateTime dt = value.metaType().id() == QMetaType::QString
            ? QDateTime::fromString(value.toString().left(10), QStringLiteral("yyyy-MM-dd"))
            : value.toDateTime();
        if (dt.isValid()) {
            lxw_datetime when{dt.date().year(), dt.date().month(), dt.date().day(), 0, 0, 0};
            worksheet_write_datetime(ws, row, col, &when, format);
            return;
        }
    }
    double number = 0;
    const bool numericColumn = IsNumericKind(column.kind);
    const bool numberValue = value.metaType().id() != QMetaType::QString && value.metaType().id() != QMetaType::Bool
        && value.metaType().id() != QMetaType::QDateTime && NumericValue(value, &number);
    if ((numericColumn && NumericValue(value, &number)) || numberValue) {
        worksheet_write_number(ws, row, col, number, format);
        return;
    }
    const QByteArray text = FormatValue(value, column.kind, FormatStyle::Plain).toUtf8();
    worksheet_write_string(ws, row, col, text.constData(), format);
}

// A cell by the record set's own type where that is cheap: numbers as numbers, text converted
// into a reused buffer; other values through their Variant.
void writeCell(lxw_worksheet *ws, lxw_row_t row, lxw_col_t col, const ReportGrid &grid, qint64 r, int c,
               lxw_format *format, std::string &utf8)
{
    const int field = grid.FieldOf(c);
    const Recordset &rs = *grid.Records();
    const qint64 source = grid.SourceRow(r);
    if (field < 0 || rs.IsNull(source, field)) {
        worksheet_write_blank(ws, row, col, format);
        return;
    }
    const ReportColumn &column = grid.Layout().Columns().at(c);
    const auto type = rs.FieldTypeOf(field);
    if (type == Recordset::FieldType::Integer || type == Recordset::FieldType::Double) {
        worksheet_write_number(ws, row, col, rs.DoubleAt(source, field), format);
        return;
    }
    if (type == Recordset::FieldType::Text && column.kind == ColumnKind::Text) {
        const QStringView text = rs.TextViewAt(source, field);
        utf8.resize(size_t(text.size()) * 3 + 1);
        utf8.resize(EncodeUtf8(text, utf8.data()));
        worksheet_write_string(ws, row, col, utf8.c_str(), format);
        return;
    }
    writeValue(ws, row, col, grid.Value(r, c), column, format);
}

} // namespace

void WriteXlsx(const ReportOutput &report, const QString &path, const RowProgress &progress)
{
    AtomicFile target(path);
    const ReportGrid grid(report, true);
    const ColumnLayout &layout = grid.Layout();

    // Rows are streamed to disk in order, so that large reports need little memory.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    // The library's workbook goes to a scratch file; its numbers are shortened on the way to
    // the target (see ShortenSheetNumbers).
    QTemporaryFile scratch;
    if (!scratch.open())
        throw VelError(QStringLiteral("无法创建临时文件：%1").arg(scratch.errorString()));
    const QByteArray file = QFile::encodeName(scratch.fileName());
    lxw_workbook *wb = workbook_new_opt(file.constData(), &options);
    if (!wb)
        throw VelError(QStringLiteral("无法创建文件 %1").arg(path));
    Formats formats(wb);
    const QByteArray name = sheetName(report.Name()).toUtf8();
    lxw_worksheet *ws = workbook_add_worksheet(wb, name.constData());

    lxw_row_t row = 0;
    const QStringList block = report.TitleBlock();
    for (int i = 0; i < block.size(); ++i) {
        const QByteArray line = block.at(i).toUtf8();
        worksheet_write_string(ws, row++, 0, line.constData(), i == 0 ? formats.title : nullptr);
    }
    if (!block.isEmpty())
        ++row;

    // Header: the first row's cells, its group merges, then the merges spanning both rows,
    // then the second row. Streaming mode only accepts writes in this order.
    const lxw_row_t top = row;
    const int headerRows = layout.HeaderRows();
    const QList<HeaderCell> cells = layout.Cells();
    for (int c = 0; c < layout.Count(); ++c)
        worksheet_write_blank(ws, top, lxw_col_t(c), formats.header);
    for (const HeaderCell &cell : cells) {
        if (cell.row != 0)
            continue;
        const QByteArray text = cell.text.toUtf8();
        worksheet_write_string(ws, top, lxw_col_t(cell.column), text.constData(), formats.header);
        if (cell.columnSpan > 1)
            worksheet_merge_range(ws, top, lxw_col_t(cell.column), top,
                                  lxw_col_t(cell.column + cell.columnSpan - 1), text.constData(), formats.header);
    }
    if (headerRows == 2) {
        for (const HeaderCell &cell : cells) {
            if (cell.row == 0 && cell.rowSpan == 2) {
                const QByteArray text = cell.text.toUtf8();
                worksheet_merge_range(ws, top, lxw_col_t(cell.column), top + 1, lxw_col_t(cell.column),
                                      text.constData(), formats.header);
            }
        }
        for (const HeaderCell &cell : cells) {
            if (cell.row != 1)
                continue;
            const QByteArray text = cell.text.toUtf8();
            worksheet_write_string(ws, top + 1, lxw_col_t(cell.column), text.constData(), formats.header);
        }
    }
    row = top + lxw_row_t(headerRows);
    worksheet_freeze_panes(ws, row, lxw_col_t(qMin(report.FrozenColumns(), layout.Count())));

    QList<int> widths;
    for (const ReportColumn &c : layout.Columns())
        widths << qMax(DisplayWidth(c.topCaption), DisplayWidth(c.subCaption));
    std::string utf8;
    const qint64 rows = grid.RowCount();
    for (qint64 r = 0; r < rows; ++r, ++row) {
        const RowKind kind = grid.KindOf(r);
        for (int c = 0; c < layout.Count(); ++c) {
            const ReportColumn &column = layout.Columns().at(c);
            writeCell(ws, row, lxw_col_t(c), grid, r, c, formats.Cell(column.kind, kind), utf8);
            // The first screens and every summary row size the columns.
            if (r < 1000 || kind != RowKind::Detail)
                widths[c] = qMax(widths[c], DisplayWidth(grid.Text(r, c, FormatStyle::Grid)));
        }
        if (progress && r % 1000 == 999 && !progress(r + 1, rows)) {
            workbook_close(wb);
            throw VelError(QStringLiteral("已取消"));
        }
    }
    for (int c = 0; c < layout.Count(); ++c)
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), qBound(6, widths[c] + 2, 60), nullptr);

    errno = 0;
    const lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR) {
        const int error = errno;
        const QString text = AtomicFile::WriteError(path, error);
        throw VelError(error || text.contains(QStringLiteral("磁盘空间不足"))
                           ? text : QStringLiteral("无法写入文件 %1：%2").arg(path, QString::fromUtf8(lxw_strerror(err))));
    }
    ShortenSheetNumbers(scratch.fileName(), target.TemporaryPath(), path);
    target.Commit();
}

} // namespace Present
