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

class TableLayout
{
public:
    explicit TableLayout(const ReportGrid &grid) : m_grid(grid), m_layout(grid.Layout())
    {
        const int n = m_layout.Count();
        m_widths.fill(0, n);
        m_cells = m_layout.Cells();
        for (const HeaderCell &cell : m_cells)
            if (cell.columnSpan == 1)
                m_widths[cell.column] = qMax(m_widths[cell.column], DisplayWidth(cell.text));
        for (qint64 r = 0; r < grid.RowCount(); ++r)
            for (int c = 0; c < n; ++c)
                m_widths[c] = qMax(m_widths[c], DisplayWidth(grid.Text(r, c, FormatStyle::Plain)));
        // A group caption wider than its members widens the last member.
        for (const HeaderCell &cell : m_cells) {
            if (cell.columnSpan < 2)
                continue;
            const int need = DisplayWidth(cell.text) - spanWidth(cell.column, cell.columnSpan);
            if (need > 0)
                m_widths[cell.column + cell.columnSpan - 1] += need;
        }
    }

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
        const int rows = m_layout.HeaderRows();
        for (int row = 0; row < rows; ++row) {
            if (row == 1)
                lines << middleRule();
            QString line = QStringLiteral("|");
            int c = 0;
            while (c < m_layout.Count()) {
                const HeaderCell *cell = cellAt(row, c);
                if (!cell) {   // lower half of a single-row column
                    line += repeated(QLatin1Char(' '), m_widths[c] + 2) + QLatin1Char('|');
                    ++c;
                    continue;
                }
                line += QLatin1Char(' ') + Pad(cell->text, spanWidth(c, cell->columnSpan), Align::Center)
                    + QStringLiteral(" |");
                c += cell->columnSpan;
            }
            lines << line;
        }
        return lines;
    }

    QString Row(qint64 r) const
    {
        QString line = QStringLiteral("|");
        for (int c = 0; c < m_layout.Count(); ++c) {
            const Align align = m_grid.AlignRight(r, c) ? Align::Right : Align::Left;
            line += QLatin1Char(' ') + Pad(m_grid.Text(r, c, FormatStyle::Plain), m_widths[c], align)
                + QStringLiteral(" |");
        }
        return line;
    }

private:
    // Width inside the borders of columns [first, first + span).
    int spanWidth(int first, int span) const
    {
        int w = 0;
        for (int c = first; c < first + span; ++c)
            w += m_widths[c];
        return w + 3 * (span - 1);
    }

    const HeaderCell *cellAt(int row, int column) const
    {
        for (const HeaderCell &cell : m_cells)
            if (cell.row == row && cell.column == column)
                return &cell;
        return nullptr;
    }

    // Between the header rows: a rule under group captions, blank under single-row columns.
    QString middleRule() const
    {
        QString line = QStringLiteral("|");
        for (int c = 0; c < m_layout.Count(); ++c) {
            const bool grouped = m_layout.Columns().at(c).IsGrouped();
            line += repeated(grouped ? QLatin1Char('-') : QLatin1Char(' '), m_widths[c] + 2);
            const bool joinsNext = grouped || (c + 1 < m_layout.Count() && m_layout.Columns().at(c + 1).IsGrouped());
            line += joinsNext ? QLatin1Char('+') : QLatin1Char('|');
        }
        return line;
    }

    const ReportGrid &m_grid;
    const ColumnLayout &m_layout;
    QList<HeaderCell> m_cells;
    QList<int> m_widths;
};

} // namespace

QString WriteTable(const ReportOutput &report)
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
    const TableLayout table(grid);
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
    lines << QStringLiteral("共 %1 行").arg(grid.RowCount());
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace Present
