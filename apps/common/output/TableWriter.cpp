#include "DisplayWidth.h"
#include "ReportGrid.h"
#include "ReportWriters.h"

#include <QStringList>

namespace Present {

namespace {

QString repeated(QChar c, int n)
{
    return QString(qMax(0, n), c);
}

// Display width of each column: its single-column caption and its widest cell.
QList<int> naturalWidths(const ReportGrid &grid, const QList<HeaderCell> &cells)
{
    QList<int> widths(grid.ColumnCount(), 0);
    for (const HeaderCell &cell : cells)
        if (cell.columnSpan == 1)
            widths[cell.column] = qMax(widths[cell.column], DisplayWidth(cell.text));
    for (qint64 r = 0; r < grid.RowCount(); ++r)
        for (int c = 0; c < grid.ColumnCount(); ++c)
            widths[c] = qMax(widths[c], DisplayWidth(grid.Text(r, c, FormatStyle::Plain)));
    return widths;
}

// Columns with something in at least one row (all of them when there are no rows): a
// summary-only run leaves the member's columns blank.
QList<int> filledColumns(const ReportGrid &grid)
{
    QList<int> columns;
    for (int c = 0; c < grid.ColumnCount(); ++c) {
        bool filled = grid.RowCount() == 0;
        for (qint64 r = 0; r < grid.RowCount() && !filled; ++r)
            filled = !grid.Text(r, c, FormatStyle::Plain).isEmpty();
        if (filled)
            columns << c;
    }
    return columns.isEmpty() ? QList<int>{0} : columns;
}

// The table over some of the grid's columns, in order; header cells are cut to the columns
// shown.
class TablePart
{
public:
    TablePart(const ReportGrid &grid, const QList<HeaderCell> &cells, const QList<int> &natural, QList<int> columns)
        : m_grid(grid), m_layout(grid.Layout()), m_cells(cells), m_columns(std::move(columns))
    {
        for (int c : m_columns)
            m_widths << natural.at(c);
        // A caption wider than the columns it spans here widens the last of them.
        for (int row = 0; row < m_layout.HeaderRows(); ++row)
            for (const auto &[cell, first, span] : spans(row)) {
                const int need = cell ? DisplayWidth(cell->text) - spanWidth(first, span) : 0;
                if (need > 0)
                    m_widths[first + span - 1] += need;
            }
    }

    // Width of a line of this part: borders, padding and cells.
    int LineWidth() const { return spanWidth(0, int(m_columns.size())) + 4; }

    QString Rule(QChar fill) const
    {
        QString line = QStringLiteral("+");
        for (int w : m_widths)
            line += repeated(fill, w + 2) + QLatin1Char('+');
        return line;
    }

    QStringList HeaderLines() const
    {
        QStringList lines;
        for (int row = 0; row < m_layout.HeaderRows(); ++row) {
            if (row == 1)
                lines << middleRule();
            QString line = QStringLiteral("|");
            for (const auto &[cell, first, span] : spans(row)) {
                // Blank under a single-row column's caption.
                const QString text = cell && cell->row == row ? cell->text : QString();
                line += QLatin1Char(' ') + Pad(text, spanWidth(first, span), Align::Center) + QStringLiteral(" |");
            }
            lines << line;
        }
        return lines;
    }

    QString Row(qint64 r) const
    {
        QString line = QStringLiteral("|");
        for (int i = 0; i < m_columns.size(); ++i) {
            const int c = m_columns.at(i);
            const Align align = m_grid.AlignRight(r, c) ? Align::Right : Align::Left;
            line += QLatin1Char(' ') + Pad(m_grid.Text(r, c, FormatStyle::Plain), m_widths[i], align)
                + QStringLiteral(" |");
        }
        return line;
    }

private:
    struct Span
    {
        const HeaderCell *cell;   // covering the columns, or null
        int first;                // position in m_columns
        int span;
    };

    const HeaderCell *covering(int row, int column) const
    {
        for (const HeaderCell &cell : m_cells)
            if (row >= cell.row && row < cell.row + cell.rowSpan && column >= cell.column
                && column < cell.column + cell.columnSpan)
                return &cell;
        return nullptr;
    }

    // Runs of adjacent shown columns under the same header cell of a row.
    QList<Span> spans(int row) const
    {
        QList<Span> out;
        for (int i = 0; i < m_columns.size(); ++i) {
            const HeaderCell *cell = covering(row, m_columns.at(i));
            if (cell && !out.isEmpty() && out.last().cell == cell)
                ++out.last().span;
            else
                out.append({cell, i, 1});
        }
        return out;
    }

    // Width inside the borders of the shown columns [first, first + span).
    int spanWidth(int first, int span) const
    {
        int w = 0;
        for (int i = first; i < first + span; ++i)
            w += m_widths[i];
        return w + 3 * (span - 1);
    }

    bool grouped(int i) const { return m_layout.Columns().at(m_columns.at(i)).IsGrouped(); }

    // Between the header rows: a rule under group captions, blank under single-row columns.
    QString middleRule() const
    {
        QString line = QStringLiteral("|");
        for (int i = 0; i < m_columns.size(); ++i) {
            line += repeated(grouped(i) ? QLatin1Char('-') : QLatin1Char(' '), m_widths[i] + 2);
            const bool joinsNext = grouped(i) || (i + 1 < m_columns.size() && grouped(i + 1));
            line += joinsNext ? QLatin1Char('+') : QLatin1Char('|');
        }
        return line;
    }

    const ReportGrid &m_grid;
    const ColumnLayout &m_layout;
    const QList<HeaderCell> &m_cells;
    QList<int> m_columns;
    QList<int> m_widths;
};

// The columns cut into parts no wider than `width` (0: one part); every part after the
// first repeats the first column, which names the row.
QList<QList<int>> partColumns(const ReportGrid &grid, const QList<HeaderCell> &cells, const QList<int> &natural,
                              const QList<int> &columns, int width)
{
    const auto fits = [&](const QList<int> &part) {
        return TablePart(grid, cells, natural, part).LineWidth() <= width;
    };
    if (width <= 0 || fits(columns))
        return {columns};
    QList<QList<int>> parts{{columns.first()}};
    for (int i = 1; i < columns.size(); ++i) {
        QList<int> wider = parts.last();
        wider << columns.at(i);
        if (fits(wider) || parts.last().size() == 1)
            parts.last() = wider;
        else
            parts.append({columns.first(), columns.at(i)});
    }
    return parts;
}

void writePart(QStringList &lines, const ReportGrid &grid, const TablePart &table)
{
    lines << table.Rule(QLatin1Char('-'));
    lines << table.HeaderLines();
    lines << table.Rule(QLatin1Char('='));
    RowKind previous = RowKind::Detail;
    for (qint64 r = 0; r < grid.RowCount(); ++r) {
        const RowKind kind = grid.KindOf(r);
        if (r > 0) {
            if (kind == RowKind::Total)
                lines << table.Rule(QLatin1Char('='));
            else if (kind == RowKind::Subtotal || previous == RowKind::Subtotal)
                lines << table.Rule(QLatin1Char('-'));
        }
        lines << table.Row(r);
        previous = kind;
    }
    lines << table.Rule(QLatin1Char('-'));
}

} // namespace

QString WriteTable(const ReportOutput &report, int width)
{
    QStringList lines = report.TitleBlock();
    if (!report.Ok()) {
        lines << QStringLiteral("错误：%1").arg(report.Error());
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    const ReportGrid grid(report, true);
    if (!lines.isEmpty())
        lines << QString();
    if (grid.ColumnCount() == 0) {
        lines << QStringLiteral("（没有可显示的列）");
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    const QList<HeaderCell> cells = grid.Layout().Cells();
    const QList<int> natural = naturalWidths(grid, cells);
    const QList<QList<int>> parts = partColumns(grid, cells, natural, filledColumns(grid), width);
    for (qsizetype p = 0; p < parts.size(); ++p) {
        if (p > 0)
            lines << QString();
        if (parts.size() > 1)
            lines << QStringLiteral("（第 %1/%2 部分，共 %3 列）").arg(p + 1).arg(parts.size()).arg(parts.at(p).size());
        writePart(lines, grid, TablePart(grid, cells, natural, parts.at(p)));
    }
    lines << QStringLiteral("共 %1 行").arg(grid.CountedRows());
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace Present
