#include "ReportPrinter.h"

#include "ReportGrid.h"
#include "VelError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>

namespace Present {

namespace {

constexpr int kMeasuredRows = 500;

class PageLayout
{
public:
    // Measured in the bold face that summary rows use, so every row fits.
    PageLayout(const ReportGrid &grid, const QFont &boldFont, QPaintDevice *device)
        : m_fm(boldFont, device), pad(m_fm.height() * 0.3)
    {
        const ColumnLayout &layout = grid.Layout();
        for (int c = 0; c < layout.Count(); ++c) {
            const ReportColumn &col = layout.Columns().at(c);
            qreal w = m_fm.horizontalAdvance(col.IsGrouped() ? col.subCaption : col.topCaption);
            for (qint64 r = 0; r < qMin<qint64>(grid.RowCount(), kMeasuredRows); ++r)
                w = qMax(w, m_fm.horizontalAdvance(grid.Text(r, c, FormatStyle::Grid)));
            widths << w + 2 * pad;
        }
        for (const HeaderCell &cell : layout.Cells()) {
            if (cell.columnSpan < 2)
                continue;
            const qreal need = m_fm.horizontalAdvance(cell.text) + 2 * pad - span(cell.column, cell.columnSpan);
            if (need > 0)
                widths[cell.column + cell.columnSpan - 1] += need;
        }
        rowHeight = m_fm.height() + pad;
    }

    qreal TotalWidth() const { return span(0, int(widths.size())); }
    qreal X(int column) const { return span(0, column); }
    qreal span(int first, int count) const
    {
        qreal w = 0;
        for (int c = first; c < first + count; ++c)
            w += widths.at(c);
        return w;
    }

private:
    QFontMetricsF m_fm;

public:
    qreal pad;
    QList<qreal> widths;
    qreal rowHeight = 0;
};

} // namespace

int PrintReport(const ReportOutput &report, QPrinter *printer)
{
    const ReportGrid grid(report, true);
    QPainter painter;
    if (!painter.begin(printer))
        throw VelError(QStringLiteral("无法开始打印"));

    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSizeF(9);
    QFont titleFont = font;
    titleFont.setPointSizeF(14);
    titleFont.setBold(true);
    QFont boldFont = font;
    boldFont.setBold(true);
    painter.setFont(font);
    const QPen gridPen(QColor(0x80, 0x80, 0x80), qMax(1.0, printer->resolution() / 150.0));

    const PageLayout layout(grid, boldFont, printer);
    const qreal kPad = layout.pad;
    const QRectF page = printer->pageLayout().paintRectPixels(printer->resolution());
    const qreal pageWidth = page.width();
    const qreal pageHeight = page.height();
    // Scale wide reports down to the page width; the row count per page grows accordingly.
    const qreal scale = layout.TotalWidth() > pageWidth ? pageWidth / layout.TotalWidth() : 1.0;
    const qreal usableHeight = pageHeight / scale;
    const QStringList block = report.TitleBlock();
    const ColumnLayout &columns = grid.Layout();
    const QList<HeaderCell> cells = columns.Cells();
    const qreal rh = layout.rowHeight;

    int pageNo = 0;
    qint64 row = 0;
    do {
        if (pageNo > 0)
            printer->newPage();
        ++pageNo;
        painter.save();
        painter.scale(scale, scale);
        painter.setPen(gridPen);
        qreal y = 0;
        for (int i = 0; i < block.size(); ++i) {
            painter.setFont(i == 0 ? titleFont : font);
            const qreal h = QFontMetricsF(painter.font(), printer).height() + kPad;
            painter.drawText(QRectF(0, y, pageWidth / scale, h), Qt::AlignLeft | Qt::AlignVCenter, block.at(i));
            y += h;
        }
        y += kPad;
        painter.setFont(boldFont);
        if (!report.Ok()) {
            painter.drawText(QRectF(0, y, pageWidth / scale, rh), Qt::AlignLeft, QStringLiteral("错误：%1").arg(report.Error()));
            painter.restore();
            break;
        }
        for (const HeaderCell &cell : cells) {
            const QRectF r(layout.X(cell.column), y + cell.row * rh, layout.span(cell.column, cell.columnSpan),
                           cell.rowSpan * rh);
            painter.fillRect(r, QColor(0xDD, 0xE6, 0xF0));
            painter.drawRect(r);
            painter.drawText(r, Qt::AlignCenter, cell.text);
        }
        y += columns.HeaderRows() * rh;
        painter.setFont(font);
        const qreal footer = rh;
        while (row < grid.RowCount() && y + rh <= usableHeight - footer) {
            const RowKind kind = grid.KindOf(row);
            painter.setFont(kind == RowKind::Detail ? font : boldFont);
            for (int c = 0; c < columns.Count(); ++c) {
                const QRectF r(layout.X(c), y, layout.widths.at(c), rh);
                if (kind != RowKind::Detail)
                    painter.fillRect(r, kind == RowKind::Total ? QColor(0xFC, 0xE3, 0xB0) : QColor(0xFF, 0xF4, 0xD6));
                painter.drawRect(r);
                const Qt::Alignment align = grid.AlignRight(row, c) ? Qt::AlignRight : Qt::AlignLeft;
                painter.drawText(r.adjusted(kPad, 0, -kPad, 0), align | Qt::AlignVCenter,
                                 grid.Text(row, c, FormatStyle::Grid));
            }
            y += rh;
            ++row;
        }
        painter.setFont(font);
        painter.drawText(QRectF(0, usableHeight - footer, pageWidth / scale, footer), Qt::AlignCenter,
                         QStringLiteral("第 %1 页").arg(pageNo));
        painter.restore();
    } while (row < grid.RowCount());
    painter.end();
    return pageNo;
}

void WritePdf(const ReportOutput &report, const QString &path)
{
    const QFileInfo target(path);
    if (!target.absoluteDir().exists())
        throw VelError(QStringLiteral("无法写入文件 %1：目录不存在").arg(path));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(report.Name());
    PrintReport(report, &printer);
    if (!QFile::exists(path))
        throw VelError(QStringLiteral("无法写入文件 %1").arg(path));
}

} // namespace Present
