#include "ReportView.h"

#include "Dictionary.h"
#include "DrillDown.h"
#include "FindBar.h"
#include "FrozenTableView.h"
#include "GridCellDelegate.h"
#include "GridCopy.h"
#include "GroupHeaderView.h"
#include "ReportChart.h"
#include "ReportPrinter.h"
#include "ReportTableModel.h"
#include "ReportWriters.h"
#include "Vector.h"
#include "VelError.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

constexpr int kMeasuredRows = 200;
constexpr int kMaxTextWidth = 320;
constexpr qsizetype kMaxShownLine = 200;

// A line as a label shows it: shortened in the middle past kMaxShownLine characters (unless
// `whole`), with a
// break opportunity (a zero-width space) in every run of 24 characters that has none, so that
// the label wraps it at any width instead of widening the window.
QString wrappable(QString line, bool whole = false)
{
    if (!whole && line.size() > kMaxShownLine)
        line = line.left(kMaxShownLine - 41) + QStringLiteral(" … ") + line.right(38);
    QString out;
    out.reserve(line.size() + line.size() / 24);
    qsizetype run = 0;
    for (const QChar c : line) {
        // Line breaks a value brought along are shown as spaces: one title line stays one line.
        const QChar shown = c.category() == QChar::Other_Control || c == u'\u2028' || c == u'\u2029' ? QChar(u' ') : c;
        run = shown.isSpace() || shown.script() == QChar::Script_Han ? 0 : run + 1;
        if (run > 24) {
            out += u'\u200B';
            run = 1;
        }
        out += shown;
    }
    return out;
}

// A label that wraps and never asks for more width than it is given.
void fitToWidth(QLabel *label)
{
    label->setWordWrap(true);
    label->setMinimumWidth(1);
}

} // namespace

ReportView::ReportView(QWidget *parent)
    : QWidget(parent), m_name(new QLabel(this)), m_titleLines(new QLabel(this)), m_period(new QLabel(this)),
      m_error(new QLabel(this)), m_empty(new QLabel(QStringLiteral("没有符合条件的数据"), this)),
      m_table(new FrozenTableView(this)), m_model(new ReportTableModel(this)), m_chart(new ReportChart(this))
{
    QFont nameFont = m_name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.4);
    nameFont.setBold(true);
    m_name->setFont(nameFont);
    m_name->setAlignment(Qt::AlignCenter);
    for (QLabel *label : {m_name, m_titleLines, m_period, m_error, m_empty})
        fitToWidth(label);
    m_titleLines->setWordWrap(true);
    m_titleLines->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_period->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->setStyleSheet(QStringLiteral("QLabel { color: #a00000; font-weight: bold; padding: 12px; }"));
    m_error->hide();
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setStyleSheet(QStringLiteral("QLabel { color: #606060; font-size: 14pt; padding: 24px; }"));
    m_empty->hide();

    m_table->setModel(m_model);
    for (QTableView *view : {static_cast<QTableView *>(m_table), m_table->FrozenView()}) {
        auto *delegate = new GridCellDelegate(view);
        view->setItemDelegate(delegate);
        m_delegates << delegate;
        // Widened after the paint that found the number too wide.
        connect(delegate, &GridCellDelegate::NumberNeedsWidth, this, [this](int column, int width) {
            if (m_table->columnWidth(column) < width)
                m_table->setColumnWidth(column, width);
        }, Qt::QueuedConnection);
    }
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (QHeaderView *header : {static_cast<QHeaderView *>(m_table->GroupHeader()),
                                static_cast<QHeaderView *>(m_table->FrozenGroupHeader())}) {
        header->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint &pos) {
            showGridMenu(header->viewport()->mapToGlobal(pos), header->logicalIndexAt(pos), true);
        });
    }
    // A scroll area's menu position is in its viewport.
    for (QTableView *view : {static_cast<QTableView *>(m_table), m_table->FrozenView()}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint &pos) {
            showGridMenu(view->viewport()->mapToGlobal(pos), view->columnAt(pos.x()), false);
        });
    }

    m_find = new FindBar(m_table, m_delegates, this);
    for (QTableView *view : {static_cast<QTableView *>(m_table), m_table->FrozenView()}) {
        connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
            if (const auto target = DrillDown::ForRow(m_model->Report(), m_model->SourceRow(index.row())))
                emit DrillRequested(*target);
        });
        view->viewport()->installEventFilter(this);
    }
    auto *copy = new QAction(QStringLiteral("复制"), m_table);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, &ReportView::CopySelection);
    m_table->addAction(copy);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_name);
    layout->addWidget(m_titleLines);
    layout->addWidget(m_period);
    layout->addWidget(m_error);
    layout->addWidget(m_find);
    layout->addWidget(m_empty, 1);
    layout->addWidget(m_table, 1);

    m_chart->SetModel(m_model, m_table->selectionModel());
    m_chart->hide();
    layout->addWidget(m_chart, 1);
}

void ReportView::SetChartShown(bool shown)
{
    m_chart->setVisible(shown && m_chart->Available());
}

bool ReportView::ChartShown() const
{
    return !m_chart->isHidden() && m_chart->Available();
}

void ReportView::SetReport(const ReportOutput &report)
{
    m_name->setText(wrappable(report.Name()));
    m_name->setVisible(!report.Name().isEmpty());
    QStringList lines = report.TitleLines() + report.FilterLines();
    for (QString &line : lines)
        line = wrappable(line);
    m_titleLines->setText(lines.join(QStringLiteral("    ")));
    m_titleLines->setVisible(!lines.isEmpty());
    m_period->setText(wrappable(report.PeriodLine()));
    m_period->setVisible(!m_period->text().isEmpty());

    if (!report.Ok()) {
        const QString error = report.Error().isEmpty() ? QStringLiteral("报表运行失败。") : report.Error();
        // A run the user stopped is no error.
        m_errorText = report.cancelled ? QStringLiteral("已取消") : QStringLiteral("错误：%1").arg(error);
        m_error->setText(report.cancelled ? m_errorText : wrappable(m_errorText, true));
        m_error->setStyleSheet(report.cancelled ? QStringLiteral("QLabel { color: #606060; font-size: 14pt; padding: 24px; }")
                                                : QStringLiteral("QLabel { color: #a00000; font-weight: bold; padding: 12px; }"));
        m_error->show();
        m_model->SetReport(ReportOutput{});
        m_table->hide();
        m_empty->hide();
        m_chart->hide();
        return;
    }
    m_error->hide();

    m_table->setSortingEnabled(false);
    m_table->GroupHeader()->SetLayout(ColumnLayout::FromHeader(report.header));
    m_model->SetReport(report);
    const ColumnLayout &columns = m_model->Layout();
    for (int c = 0; c < columns.Count(); ++c)
        m_table->setColumnHidden(c, !columns.Columns().at(c).visible);
    sizeColumns();
    const bool sortable = report.SortEnabled();
    m_table->GroupHeader()->setSortIndicatorShown(sortable);
    m_table->GroupHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_table->setSortingEnabled(sortable);
    m_table->SetFrozenColumnCount(report.FrozenColumns());
    // A lone total of nothing says less than saying there is nothing.
    const bool empty = !m_model->HasData();
    m_empty->setVisible(empty);
    m_table->setVisible(!empty);
    if (!m_chart->Available())
        m_chart->hide();
}

bool ReportView::eventFilter(QObject *watched, QEvent *event)
{
    // Where a double click on the row under the mouse leads.
    if (event->type() == QEvent::ToolTip) {
        auto *viewport = qobject_cast<QWidget *>(watched);
        auto *view = viewport ? qobject_cast<QTableView *>(viewport->parentWidget()) : nullptr;
        if (view) {
            const auto *help = static_cast<QHelpEvent *>(event);
            const QModelIndex index = view->indexAt(help->pos());
            const QString hint = index.isValid()
                ? DrillDown::Hint(DrillDown::ForRow(m_model->Report(), m_model->SourceRow(index.row())))
                : QString();
            if (hint.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), hint, viewport);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool ReportView::IsEmptyResult() const
{
    return !m_empty->isHidden();
}

void ReportView::sizeColumns()
{
    // Measured on the first rows and every summary row: a large report must not be formatted
    // as a whole, and the totals are the widest numbers. Numbers beyond the sample widen their
    // column when they are painted (GridCellDelegate).
    const QFontMetrics fm = m_table->fontMetrics();
    QFont bold = m_table->font();
    bold.setBold(true);
    QStyleOptionViewItem option;
    option.initFrom(m_table);
    option.widget = m_table;
    option.fontMetrics = QFontMetrics(bold);
    QList<int> rows;
    for (int r = 0; r < qMin(m_model->rowCount(), kMeasuredRows); ++r)
        rows << r;
    for (int r : m_model->SummaryRows())
        if (r >= kMeasuredRows)
            rows << r;
    const ColumnLayout &columns = m_model->Layout();
    for (int c = 0; c < columns.Count(); ++c) {
        const ReportColumn &col = columns.Columns().at(c);
        int text = fm.horizontalAdvance(col.IsGrouped() ? col.subCaption : col.topCaption) + 24;
        int number = 0;
        for (int r : rows) {
            const QModelIndex index = m_model->index(r, c);
            const int width = GridCellDelegate::TextWidth(option, index.data().toString()) + 12;
            if (index.data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight)
                number = qMax(number, width);
            else
                text = qMax(text, width);
        }
        m_table->setColumnWidth(c, qMax(qMin(text, kMaxTextWidth), number));
    }
    // A group caption wider than its members widens the last member.
    for (const HeaderCell &cell : columns.Cells()) {
        if (cell.columnSpan < 2)
            continue;
        int span = 0;
        for (int c = cell.column; c < cell.column + cell.columnSpan; ++c)
            span += m_table->columnWidth(c);
        const int need = fm.horizontalAdvance(cell.text) + 24 - span;
        const int last = cell.column + cell.columnSpan - 1;
        if (need > 0)
            m_table->setColumnWidth(last, m_table->columnWidth(last) + need);
    }
}

int ReportView::FrozenColumns() const
{
    return m_table->FrozenColumnCount();
}

int ReportView::DefaultFrozenColumns() const
{
    return qMin(m_model->Report().FrozenColumns(), m_model->columnCount());
}

void ReportView::SetFrozenColumns(int count)
{
    m_table->SetFrozenColumnCount(qBound(0, count, m_model->columnCount()));
    // The first scrolling column starts at the frozen edge again.
    m_table->horizontalScrollBar()->setValue(0);
}

void ReportView::showGridMenu(const QPoint &globalPos, int column, bool onHeader)
{
    const ColumnLayout &columns = m_model->Layout();
    if (columns.Count() == 0)
        return;
    QMenu menu(this);
    if (!onHeader) {
        for (QAction *action : m_table->actions())
            menu.addAction(action);
        menu.addSeparator();
    }
    auto freeze = [this](int count) {
        SetFrozenColumns(count);
        emit FrozenColumnsChanged();
    };
    if (column >= 0) {
        // The frozen part must leave room for the columns that scroll.
        int width = 0;
        for (int c = 0; c <= column; ++c)
            width += m_table->isColumnHidden(c) ? 0 : m_table->columnWidth(c);
        const bool fits = width <= m_table->viewport()->width() * 3 / 4;
        QAction *action = menu.addAction(fits ? QStringLiteral("冻结到此列（%1）").arg(columns.Columns().at(column).FlatCaption())
                                              : QStringLiteral("冻结到此列（太宽，需留出滚动的列）"),
                                         this, [freeze, column] { freeze(column + 1); });
        action->setEnabled(fits && FrozenColumns() != column + 1);
    }
    menu.addAction(QStringLiteral("取消冻结"), this, [freeze] { freeze(0); })->setEnabled(FrozenColumns() > 0);
    menu.addAction(QStringLiteral("恢复默认冻结（%1 列）").arg(DefaultFrozenColumns()), this,
                   [this, freeze] { freeze(DefaultFrozenColumns()); })
        ->setEnabled(FrozenColumns() != DefaultFrozenColumns());
    if (onHeader) {
        menu.addSection(QStringLiteral("显示的列"));
        for (int c = 0; c < columns.Count(); ++c) {
            QAction *action = menu.addAction(columns.Columns().at(c).FlatCaption());
            action->setCheckable(true);
            action->setChecked(!m_table->isColumnHidden(c));
            connect(action, &QAction::toggled, this, [this, c](bool shown) {
                m_table->SetColumnShown(c, shown);
                if (shown && m_table->columnWidth(c) < 20)
                    m_table->setColumnWidth(c, 90);
                m_table->GroupHeader()->viewport()->update();
                emit ColumnsChanged();
            });
        }
    }
    menu.exec(globalPos);
}

ReportOutput ReportView::ShownReport() const
{
    ReportOutput shown = m_model->Report();
    shown.rowOrder = m_model->RowOrder();
    if (!shown.header)
        return shown;
    // A copy of the header whose "FVisible" says what the grid shows.
    auto header = Vector::Create();
    for (int c = 0; c < shown.header->Count(); ++c) {
        const DictionaryPtr source = shown.header->DictionaryAt(c);
        if (!source) {
            header->Add(shown.header->Item(c));
            continue;
        }
        auto entry = Dictionary::Create();
        for (const QString &key : source->Keys())
            entry->SetValue(key, source->Value(key));
        if (c < m_model->columnCount())
            entry->SetValue(QStringLiteral("FVisible"), QVariant::fromValue<qint16>(m_table->isColumnHidden(c) ? 0 : 1));
        header->Add(entry);
    }
    shown.header = header;
    if (shown.property && FrozenColumns() != shown.FrozenColumns()) {
        auto property = Dictionary::Create();
        for (const QString &key : shown.property->Keys())
            property->SetValue(key, shown.property->Value(key));
        property->SetValue(QStringLiteral("FrozenColumn"), QVariant::fromValue<qint16>(qint16(FrozenColumns())));
        shown.property = property;
    }
    return shown;
}

void ReportView::CopySelection() const
{
    const QString text = GridCopy::SelectionAsTsv(*m_table);
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

QString ReportView::ErrorText() const
{
    return m_error->isHidden() ? QString() : m_errorText;
}

void ReportView::ExportCsv(const QString &path, const Present::CsvOptions &options,
                           const Present::RowProgress &progress) const
{
    Present::WriteCsvFile(ShownReport(), path, options, progress);
}

void ReportView::ExportXlsx(const QString &path, const Present::RowProgress &progress) const
{
    Present::WriteXlsx(ShownReport(), path, progress);
}

void ReportView::ExportPdf(const QString &path, const Present::PageProgress &progress) const
{
    Present::WritePdf(ShownReport(), path, progress, ChartShown() ? m_chart->Image() : QImage());
}

void ReportView::PrintPreview()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setDocName(m_model->Report().Name());
    QPrintPreviewDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("打印预览 - %1").arg(m_model->Report().Name()));
    const ReportOutput shown = ShownReport();
    const QImage chart = ChartShown() ? m_chart->Image() : QImage();
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [&shown, &chart](QPrinter *p) { Present::PrintReport(shown, p, {}, chart); });
    dialog.exec();
}
