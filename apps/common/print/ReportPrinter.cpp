#include "ReportPrinter.h"

#include "AtomicFile.h"
#include "PrintFont.h"
#include "ReportGrid.h"
#include "VelError.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>

#include <cmath>

namespace Present {

namespace {

// Detail rows measured to size the columns; summary rows are always measured. A later detail
// value that is wider still is drawn condensed into its column, never cut.
constexpr qint64 kMeasuredRows = 1000;
// Below this scale the text gets too small to read; wider reports are split into bands.
constexpr qreal kMinScale = 0.75;

struct Fonts
{
    Fonts()
    {
        body = QFont(PrintFontFamily());
        body.setPointSizeF(9);
        bold = body;
        bold.setBold(true);
        title = bold;
        title.setPointSizeF(14);
    }
    QFont body, bold, title;
};

// Where everything goes: column widths, bands of columns, rows per page.
class PrintPlan
{
public:
    PrintPlan(const ReportOutput &report, const ReportGrid &grid, const Fonts &fonts, QPrinter *printer)
        : m_grid(grid), m_columns(grid.Layout())
    {
        const QFontMetricsF fm(fonts.bold, printer);
        pad = fm.height() * 0.3;
        rowHeight = fm.height() + pad;
        m_em = fm.horizontalAdvance(QChar(0x4E2D));
        measure(fm);

        const QRectF page = printer->pageLayout().paintRectPixels(printer->resolution());
        pageWidth = page.width();
        pageHeight = page.height();
        makeBands(report.FrozenColumns());
        qreal widest = 0;
        for (const QList<int> &band : bands)
            widest = qMax(widest, bandWidth(band));
        scale = widest > pageWidth ? pageWidth / widest : 1.0;

        block = report.TitleBlock();
        const QFontMetricsF titleFm(fonts.title, printer), bodyFm(fonts.body, printer);
        blockHeight = pad;
        for (int i = 0; i < block.size(); ++i)
            blockHeight += (i == 0 ? titleFm : bodyFm).height() + pad;
        const qreal rowsHeight = pageHeight / scale - blockHeight - m_columns.HeaderRows() * rowHeight - rowHeight;
        rowsPerPage = qMax<qint64>(1, qint64(std::floor(rowsHeight / rowHeight)));
        paginate();
    }

    qint64 Pages() const { return qint64(pageStarts.size()) * bands.size(); }
    // The row after the last one on the page that starts at pageStarts[i].
    qint64 PageEnd(size_t i) const { return i + 1 < pageStarts.size() ? pageStarts[i + 1] : m_grid.RowCount(); }
    qreal Width(int column) const { return widths.at(column); }
    // Text whose character count is at most this always fits the column.
    bool SurelyFits(int column, const QString &text) const
    {
        return text.size() * m_em <= widths.at(column) - 2 * pad;
    }
    qreal bandWidth(const QList<int> &band) const
    {
        qreal w = 0;
        for (int c : band)
            w += widths.at(c);
        return w;
    }

    qreal pad = 0;
    qreal rowHeight = 0;
    qreal pageWidth = 0;
    qreal pageHeight = 0;
    qreal scale = 1;
    qreal blockHeight = 0;
    QStringList block;
    QList<qreal> widths;
    QList<QList<int>> bands;
    qint64 rowsPerPage = 1;
    std::vector<qint64> pageStarts{0};

private:
    // A group of at most this many lines moves whole to the next page rather than leave its
    // subtotal there alone.
    static constexpr qint64 kShortGroup = 5;

    // Page breaks that never start a page with a summary row: a short group moves whole to
    // the next page, a longer one takes its last line along with its subtotal.
    void paginate()
    {
        const qint64 rows = m_grid.RowCount();
        for (qint64 start = 0; start + rowsPerPage < rows;) {
            qint64 next = start + rowsPerPage;
            if (m_grid.KindOf(next) != RowKind::Detail) {
                qint64 summary = next;   // the summary rows just before the break go along
                while (summary > start && m_grid.KindOf(summary - 1) != RowKind::Detail)
                    --summary;
                qint64 group = summary;
                while (group > start && m_grid.KindOf(group - 1) == RowKind::Detail)
                    --group;
                if (group > start && summary - group <= kShortGroup)
                    next = group;
                else if (summary - group > 0 && summary - 1 > start)
                    next = summary - 1;
            }
            pageStarts.push_back(next);
            start = next;
        }
    }

    void measure(const QFontMetricsF &fm)
    {
        const int n = m_columns.Count();
        for (int c = 0; c < n; ++c) {
            const ReportColumn &col = m_columns.Columns().at(c);
            widths << fm.horizontalAdvance(col.IsGrouped() ? col.subCaption : col.topCaption);
        }
        for (qint64 r = 0; r < m_grid.RowCount(); ++r) {
            if (r >= kMeasuredRows && m_grid.KindOf(r) == RowKind::Detail)
                continue;
            for (int c = 0; c < n; ++c)
                widths[c] = qMax(widths[c], fm.horizontalAdvance(m_grid.Text(r, c, FormatStyle::Grid)));
        }
        for (qreal &w : widths)
            w += 2 * pad;
        for (const HeaderCell &cell : m_columns.Cells()) {
            if (cell.columnSpan < 2)
                continue;
            qreal span = 0;
            for (int c = cell.column; c < cell.column + cell.columnSpan; ++c)
                span += widths.at(c);
            const qreal need = fm.horizontalAdvance(cell.text) + 2 * pad - span;
            if (need > 0)
                widths[cell.column + cell.columnSpan - 1] += need;
        }
    }

    // One band when the report fits at a readable scale; else bands that each fit, every band
    // starting with the frozen columns unless they would take half the page.
    void makeBands(int frozenColumns)
    {
        const int n = m_columns.Count();
        QList<int> all;
        for (int c = 0; c < n; ++c)
            all << c;
        const qreal room = pageWidth / kMinScale;
        if (n == 0 || bandWidth(all) <= room) {
            bands << all;
            return;
        }
        QList<int> frozen;
        for (int c = 0; c < qMin(frozenColumns, n); ++c)
            frozen << c;
        if (bandWidth(frozen) > room / 2)
            frozen.clear();
        int next = int(frozen.size());
        while (next < n) {
            QList<int> band = frozen;
            qreal w = bandWidth(band);
            do {
                w += widths.at(next);
                band << next++;
            } while (next < n && w + widths.at(next) <= room);
            bands << band;
        }
    }

    const ReportGrid &m_grid;
    const ColumnLayout &m_columns;
    qreal m_em = 0;
};

// Text in a cell; a text wider than the cell is condensed to fit rather than cut.
void drawCellText(QPainter &painter, const QRectF &rect, Qt::Alignment align, const QString &text, bool surelyFits)
{
    if (!surelyFits) {
        const qreal advance = QFontMetricsF(painter.font(), painter.device()).horizontalAdvance(text);
        if (advance > rect.width()) {
            painter.save();
            painter.translate(rect.left(), rect.top());
            painter.scale(rect.width() / advance, 1.0);
            painter.drawText(QRectF(0, 0, advance, rect.height()), align | Qt::AlignVCenter, text);
            painter.restore();
            return;
        }
    }
    painter.drawText(rect, align | Qt::AlignVCenter, text);
}

class PagePainter
{
public:
    PagePainter(QPainter &painter, const ReportOutput &report, const ReportGrid &grid, const PrintPlan &plan,
                const Fonts &fonts, qreal penWidth)
        : m_p(painter), m_report(report), m_grid(grid), m_plan(plan), m_fonts(fonts),
          m_pen(QColor(0x80, 0x80, 0x80), penWidth)
    {
    }

    void Page(int pageNo, int pages, qint64 firstRow, qint64 endRow, const QList<int> &band)
    {
        m_p.save();
        m_p.scale(m_plan.scale, m_plan.scale);
        m_p.setPen(Qt::black);
        const qreal width = m_plan.pageWidth / m_plan.scale;
        qreal y = 0;
        for (int i = 0; i < m_plan.block.size(); ++i) {
            m_p.setFont(i == 0 ? m_fonts.title : m_fonts.body);
            const qreal h = QFontMetricsF(m_p.font(), m_p.device()).height() + m_plan.pad;
            m_p.drawText(QRectF(0, y, width, h), Qt::AlignLeft | Qt::AlignVCenter, m_plan.block.at(i));
            y += h;
        }
        y = m_plan.blockHeight;
        if (!m_report.Ok()) {
            m_p.setFont(m_fonts.bold);
            m_p.drawText(QRectF(0, y, width, m_plan.rowHeight), Qt::AlignLeft,
                         QStringLiteral("错误：%1").arg(m_report.Error()));
        } else {
            xs.clear();
            qreal x = 0;
            for (int c : band) {
                xs.insert(c, x);
                x += m_plan.Width(c);
            }
            header(band, y);
            y += m_grid.Layout().HeaderRows() * m_plan.rowHeight;
            rows(firstRow, endRow, band, y);
        }
        m_p.setFont(m_fonts.body);
        const qreal footer = m_plan.pageHeight / m_plan.scale - m_plan.rowHeight;
        m_p.drawText(QRectF(0, footer, width, m_plan.rowHeight), Qt::AlignCenter,
                     QStringLiteral("第 %1 页，共 %2 页").arg(pageNo).arg(pages));
        m_p.restore();
    }

private:
    // Header cells cut to the band's columns; a group split between bands shows its caption
    // over its part in each.
    void header(const QList<int> &band, qreal y)
    {
        m_p.setFont(m_fonts.bold);
        const qreal rh = m_plan.rowHeight;
        for (const HeaderCell &cell : m_grid.Layout().Cells()) {
            int runStart = -1;
            qreal runWidth = 0;
            auto flush = [&] {
                if (runStart < 0)
                    return;
                const QRectF r(xs.value(runStart), y + cell.row * rh, runWidth, cell.rowSpan * rh);
                m_p.fillRect(r, QColor(0xDD, 0xE6, 0xF0));
                m_p.setPen(m_pen);
                m_p.drawRect(r);
                m_p.setPen(Qt::black);
                drawCellText(m_p, r.adjusted(m_plan.pad, 0, -m_plan.pad, 0), Qt::AlignHCenter, cell.text, false);
                runStart = -1;
                runWidth = 0;
            };
            int previous = -2;
            for (int c : band) {
                const bool inside = c >= cell.column && c < cell.column + cell.columnSpan;
                if (!inside || c != previous + 1)
                    flush();
                if (inside) {
                    if (runStart < 0)
                        runStart = c;
                    runWidth += m_plan.Width(c);
                }
                previous = c;
            }
            flush();
        }
    }

    void rows(qint64 first, qint64 end, const QList<int> &band, qreal y)
    {
        const qreal rh = m_plan.rowHeight;
        for (qint64 row = first; row < end; ++row, y += rh) {
            const RowKind kind = m_grid.KindOf(row);
            m_p.setFont(kind == RowKind::Detail ? m_fonts.body : m_fonts.bold);
            for (int c : band) {
                const QRectF r(xs.value(c), y, m_plan.Width(c), rh);
                if (kind != RowKind::Detail)
                    m_p.fillRect(r, kind == RowKind::Total ? QColor(0xFC, 0xE3, 0xB0) : QColor(0xFF, 0xF4, 0xD6));
                m_p.setPen(m_pen);
                m_p.drawRect(r);
                m_p.setPen(Qt::black);
                const QString text = m_grid.Text(row, c, FormatStyle::Grid);
                if (text.isEmpty())
                    continue;
                const Qt::Alignment align = m_grid.AlignRight(row, c) ? Qt::AlignRight : Qt::AlignLeft;
                drawCellText(m_p, r.adjusted(m_plan.pad, 0, -m_plan.pad, 0), align, text, m_plan.SurelyFits(c, text));
            }
        }
    }

    QPainter &m_p;
    const ReportOutput &m_report;
    const ReportGrid &m_grid;
    const PrintPlan &m_plan;
    const Fonts &m_fonts;
    QPen m_pen;
    QHash<int, qreal> xs;
};

// The chart on a page of its own, as large as fits, under the report's name.
void printChart(QPainter &painter, QPrinter *printer, const ReportOutput &report, const Fonts &fonts, const QImage &chart)
{
    const QRectF page = printer->pageLayout().paintRectPixels(printer->resolution());
    const QRectF area(0, 0, page.width(), page.height());
    painter.setFont(fonts.title);
    painter.setPen(Qt::black);
    const qreal titleHeight = QFontMetricsF(fonts.title, printer).height() * 1.5;
    painter.drawText(QRectF(0, 0, area.width(), titleHeight), Qt::AlignCenter, report.Name());
    QSizeF size = chart.deviceIndependentSize();
    size.scale(area.width(), area.height() - titleHeight, Qt::KeepAspectRatio);
    const QRectF target(area.left() + (area.width() - size.width()) / 2, titleHeight, size.width(), size.height());
    painter.drawImage(target, chart);
}

} // namespace

int PageCount(const ReportOutput &report, QPrinter *printer)
{
    const ReportGrid grid(report, true);
    const Fonts fonts;
    const PrintPlan plan(report, grid, fonts, printer);
    return report.Ok() ? int(plan.Pages()) : 1;
}

int PrintReport(const ReportOutput &report, QPrinter *printer, const PageProgress &progress, const QImage &chart)
{
    const ReportGrid grid(report, true);
    const Fonts fonts;
    const PrintPlan plan(report, grid, fonts, printer);
    QPainter painter;
    if (!painter.begin(printer))
        throw VelError(QStringLiteral("无法开始打印"));
    PagePainter pages(painter, report, grid, plan, fonts, qMax(1.0, printer->resolution() / 150.0));
    const bool withChart = report.Ok() && !chart.isNull();
    const int total = (report.Ok() ? int(plan.Pages()) : 1) + (withChart ? 1 : 0);
    int pageNo = 0;
    // The total before the first page, so that a caller may still decline a long document.
    if (progress && !progress(0, total)) {
        painter.end();
        return -1;
    }
    for (size_t chunk = 0; chunk < (report.Ok() ? plan.pageStarts.size() : 1); ++chunk) {
        for (const QList<int> &band : plan.bands) {
            if (pageNo > 0)
                printer->newPage();
            pages.Page(++pageNo, total, plan.pageStarts[chunk], plan.PageEnd(chunk), band);
            if (progress && !progress(pageNo, total)) {
                painter.end();
                return -1;
            }
            if (!report.Ok())
                break;
        }
    }
    if (withChart) {
        printer->newPage();
        printChart(painter, printer, report, fonts, chart);
        if (progress && !progress(++pageNo, total)) {
            painter.end();
            return -1;
        }
    }
    painter.end();
    return pageNo;
}

void SetUpPdfPrinter(QPrinter *printer, const QString &path, const QString &title)
{
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    printer->setPageOrientation(QPageLayout::Landscape);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setDocName(title);
}

int PdfPageCount(const ReportOutput &report)
{
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdfPrinter(&printer, QString(), report.Name());
    return PageCount(report, &printer);
}

void WritePdf(const ReportOutput &report, const QString &path, const PageProgress &progress, const QImage &chart)
{
    AtomicFile file(path);
    {
        QPrinter printer(QPrinter::HighResolution);
        SetUpPdfPrinter(&printer, file.TemporaryPath(), report.Name());
        if (PrintReport(report, &printer, progress, chart) < 0)
            throw Vel::Cancelled();
    }
    // Qt's PDF writer does not report a failed write; a complete file ends with its trailer.
    QFile written(file.TemporaryPath());
    if (!written.open(QIODevice::ReadOnly) || !written.seek(qMax<qint64>(0, written.size() - 64))
        || !written.readAll().contains("%%EOF"))
        throw VelError(AtomicFile::WriteError(path, 0));
    file.Commit();
}

} // namespace Present
