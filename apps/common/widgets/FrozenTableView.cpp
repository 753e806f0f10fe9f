#include "FrozenTableView.h"

#include "GroupHeaderView.h"

#include <QScrollBar>

FrozenTableView::FrozenTableView(QWidget *parent)
    : QTableView(parent), m_frozenView(new QTableView(this)), m_header(new GroupHeaderView(this)),
      m_frozenHeader(new GroupHeaderView(m_frozenView))
{
    setHorizontalHeader(m_header);
    m_frozenView->setHorizontalHeader(m_frozenHeader);
    // Over the scrolling header too, not only over the body.
    m_frozenView->raise();
    m_frozenView->setFocusPolicy(Qt::NoFocus);
    m_frozenView->verticalHeader()->hide();
    m_frozenView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_frozenView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_frozenView->setStyleSheet(QStringLiteral("QTableView { border: none; }"));
    m_frozenView->setHorizontalScrollMode(ScrollPerPixel);
    m_frozenView->hide();
    setHorizontalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerPixel);
    m_frozenView->setVerticalScrollMode(ScrollPerPixel);

    // A hidden section reports a resize to 0, so hiding and showing frozen columns lands here too.
    connect(m_header, &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        if (logical >= m_frozen)
            return;
        m_syncing = true;
        m_frozenView->setColumnHidden(logical, isColumnHidden(logical));
        if (size > 0)
            m_frozenView->setColumnWidth(logical, size);
        m_syncing = false;
        m_frozenView->setVisible(frozenWidth() > 0);
        updateFrozenGeometry();
    });
    connect(m_frozenHeader, &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        if (!m_syncing && logical < m_frozen && columnWidth(logical) != size)
            setColumnWidth(logical, size);
    });
    connect(verticalHeader(), &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        m_frozenView->setRowHeight(logical, size);
    });
    connect(m_frozenView->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(),
            &QAbstractSlider::setValue);
    connect(verticalScrollBar(), &QAbstractSlider::valueChanged, m_frozenView->verticalScrollBar(),
            &QAbstractSlider::setValue);
    // The frozen view never scrolls sideways (a click on a wide frozen cell would try to).
    connect(m_frozenView->horizontalScrollBar(), &QAbstractSlider::valueChanged, this, [this](int value) {
        if (value != 0)
            m_frozenView->horizontalScrollBar()->setValue(0);
    });
    connect(horizontalScrollBar(), &QAbstractSlider::valueChanged, this, &FrozenTableView::snapHorizontalScroll);
    // A click on a frozen header sorts like a click on the main header.
    connect(m_frozenHeader, &QHeaderView::sectionClicked, this, [this](int logical) {
        if (!isSortingEnabled())
            return;
        const Qt::SortOrder order = m_header->sortIndicatorSection() == logical
                && m_header->sortIndicatorOrder() == Qt::AscendingOrder
            ? Qt::DescendingOrder : Qt::AscendingOrder;
        m_header->setSortIndicator(logical, order);
    });
    connect(m_header, &QHeaderView::sortIndicatorChanged, m_frozenHeader,
            [this](int logical, Qt::SortOrder order) { m_frozenHeader->setSortIndicator(logical, order); });
}

void FrozenTableView::setModel(QAbstractItemModel *model)
{
    QTableView::setModel(model);
    m_frozenView->setModel(model);
    m_frozenView->setSelectionModel(selectionModel());
    if (model) {
        connect(model, &QAbstractItemModel::modelReset, this, &FrozenTableView::syncColumns);
        connect(model, &QAbstractItemModel::layoutChanged, m_frozenView->viewport(), qOverload<>(&QWidget::update));
    }
    syncColumns();
}

void FrozenTableView::SetFrozenColumnCount(int count)
{
    m_frozen = qMax(0, count);
    syncColumns();
}

void FrozenTableView::SetColumnShown(int column, bool shown)
{
    setColumnHidden(column, !shown);
    syncColumns();
}

void FrozenTableView::syncColumns()
{
    const int columns = model() ? model()->columnCount() : 0;
    const int frozen = qMin(m_frozen, columns);
    m_frozenHeader->SetLayout(m_header->Layout());
    m_frozenHeader->setSortIndicatorShown(m_header->isSortIndicatorShown());
    m_frozenView->setSortingEnabled(false);
    m_frozenView->setSelectionBehavior(selectionBehavior());
    m_frozenView->setSelectionMode(selectionMode());
    m_frozenView->setAlternatingRowColors(alternatingRowColors());
    m_frozenView->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    // Showing a frozen section resizes it from 0; that must not flow back to the main view.
    m_syncing = true;
    for (int c = 0; c < columns; ++c) {
        const bool inFrozen = c < frozen;
        m_frozenView->setColumnHidden(c, !inFrozen || isColumnHidden(c));
        if (inFrozen)
            m_frozenView->setColumnWidth(c, columnWidth(c));
    }
    m_syncing = false;
    m_frozenView->setVisible(frozen > 0 && frozenWidth() > 0);
    updateFrozenGeometry();
}

int FrozenTableView::frozenWidth() const
{
    int width = 0;
    const int columns = model() ? qMin(m_frozen, model()->columnCount()) : 0;
    for (int c = 0; c < columns; ++c)
        if (!isColumnHidden(c))
            width += columnWidth(c);
    return width;
}

void FrozenTableView::updateFrozenGeometry()
{
    const int x = verticalHeader()->isVisible() ? verticalHeader()->width() + frameWidth() : frameWidth();
    m_frozenView->setGeometry(x, frameWidth(), frozenWidth(),
                              viewport()->height() + horizontalHeader()->height());
    m_frozenHeader->setFixedHeight(horizontalHeader()->height());
    m_frozenView->verticalScrollBar()->setValue(verticalScrollBar()->value());
}

int FrozenTableView::snappedOffset(int value, bool forward) const
{
    const int columns = model() ? model()->columnCount() : 0;
    const int edge = frozenWidth();
    if (m_frozen <= 0 || edge == 0)
        return value;
    const int room = viewport()->width() - edge;
    int before = 0, after = -1;
    for (int visual = 0; visual < columns; ++visual) {
        const int logical = m_header->logicalIndex(visual);
        if (logical < m_frozen || isColumnHidden(logical))
            continue;
        // A column wider than the room beside the frozen view scrolls by pixels.
        if (m_header->sectionSize(logical) > room)
            return value;
        const int offset = m_header->sectionPosition(logical) - edge;
        if (offset <= value)
            before = offset;
        if (offset >= value) {
            after = offset;
            break;
        }
    }
    if (forward && after >= 0)
        return after;
    return before;
}

void FrozenTableView::snapHorizontalScroll(int value)
{
    const bool forward = value > m_lastOffset;
    const int snapped = snappedOffset(value, forward);
    m_lastOffset = snapped;
    if (snapped != value)
        horizontalScrollBar()->setValue(snapped);
}

void FrozenTableView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    updateFrozenGeometry();
}

void FrozenTableView::updateGeometries()
{
    QTableView::updateGeometries();
    if (!m_frozenView)
        return;
    // Let the last columns scroll fully past the frozen edge.
    QScrollBar *bar = horizontalScrollBar();
    if (bar->maximum() > 0) {
        const int end = snappedOffset(bar->maximum(), true);
        if (end > bar->maximum())
            bar->setMaximum(end);
    }
    updateFrozenGeometry();
}

QModelIndex FrozenTableView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex current = QTableView::moveCursor(cursorAction, modifiers);
    // Keep the cursor's column out from under the frozen view when moving left.
    if (cursorAction == MoveLeft && current.column() >= m_frozen
        && visualRect(current).topLeft().x() < frozenWidth()) {
        const int newValue = horizontalScrollBar()->value() + visualRect(current).topLeft().x() - frozenWidth();
        horizontalScrollBar()->setValue(newValue);
    }
    return current;
}

void FrozenTableView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (index.column() >= m_frozen) {
        QTableView::scrollTo(index, hint);
        return;
    }
    // A frozen cell is always in view horizontally: scroll rows only.
    const int horizontal = horizontalScrollBar()->value();
    QTableView::scrollTo(index, hint);
    horizontalScrollBar()->setValue(horizontal);
}
