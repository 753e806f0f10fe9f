#include "GroupHeaderView.h"

#include <QPainter>
#include <QStyleOptionHeader>

GroupHeaderView::GroupHeaderView(QWidget *parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(true);
    setHighlightSections(true);
    setDefaultAlignment(Qt::AlignCenter);
}

void GroupHeaderView::SetLayout(const ColumnLayout &layout)
{
    m_layout = layout;
    updateGeometry();
    viewport()->update();
}

int GroupHeaderView::rowHeight() const
{
    return fontMetrics().height() + 8;
}

QSize GroupHeaderView::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    size.setHeight(rowHeight() * qMax(1, m_layout.HeaderRows()));
    return size;
}

QSize GroupHeaderView::sectionSizeFromContents(int logicalIndex) const
{
    QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
    if (logicalIndex >= 0 && logicalIndex < m_layout.Count()) {
        const ReportColumn &c = m_layout.Columns().at(logicalIndex);
        const QString own = c.IsGrouped() ? c.subCaption : c.topCaption;
        size.setWidth(fontMetrics().horizontalAdvance(own) + 24);
    }
    size.setHeight(rowHeight() * qMax(1, m_layout.HeaderRows()));
    return size;
}

QRect GroupHeaderView::groupRect(int logicalIndex, int top, int height) const
{
    const auto [first, last] = m_layout.GroupRange(logicalIndex);
    int left = INT_MAX, right = INT_MIN;
    for (int c = first; c <= last; ++c) {
        if (isSectionHidden(c))
            continue;
        const int x = sectionViewportPosition(c);
        left = qMin(left, x);
        right = qMax(right, x + sectionSize(c));
    }
    return QRect(left, top, right - left, height);
}

void GroupHeaderView::paintCell(QPainter *painter, const QRect &cell, const QRect &clip, const QString &text,
                                int logicalIndex, bool withSortIndicator) const
{
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.rect = cell;
    opt.section = logicalIndex;
    opt.text = text;
    opt.textAlignment = Qt::AlignCenter;
    opt.position = QStyleOptionHeader::Middle;
    opt.sortIndicator = QStyleOptionHeader::None;
    if (withSortIndicator && isSortIndicatorShown() && sortIndicatorSection() == logicalIndex)
        opt.sortIndicator = sortIndicatorOrder() == Qt::AscendingOrder ? QStyleOptionHeader::SortDown
                                                                       : QStyleOptionHeader::SortUp;
    painter->save();
    painter->setClipRect(clip, Qt::IntersectClip);
    style()->drawControl(QStyle::CE_Header, &opt, painter, this);
    painter->restore();
}

void GroupHeaderView::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    if (logicalIndex < 0 || logicalIndex >= m_layout.Count()) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    const ReportColumn &column = m_layout.Columns().at(logicalIndex);
    if (!column.IsGrouped() || m_layout.HeaderRows() < 2) {
        paintCell(painter, rect, rect, column.IsGrouped() ? column.FlatCaption() : column.topCaption,
                  logicalIndex, true);
        return;
    }
    // Each member paints its share of the group caption, so the caption reads as one cell.
    const int topHeight = rect.height() / 2;
    const QRect topBand(rect.left(), rect.top(), rect.width(), topHeight);
    paintCell(painter, groupRect(logicalIndex, rect.top(), topHeight), topBand, column.topCaption,
              logicalIndex, false);
    const QRect bottom(rect.left(), rect.top() + topHeight, rect.width(), rect.height() - topHeight);
    paintCell(painter, bottom, bottom, column.subCaption, logicalIndex, true);
}
