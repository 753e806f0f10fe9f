#include "GridCellDelegate.h"

#include <QApplication>
#include <QPainter>

namespace {

const QColor kMatchTint(0xFF, 0xE8, 0x5C);

} // namespace

int GridCellDelegate::TextWidth(const QStyleOptionViewItem &option, const QString &text)
{
    const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
    return option.fontMetrics.horizontalAdvance(text) + 2 * margin + 2;
}

void GridCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    if (!m_highlight.isEmpty() && opt.text.contains(m_highlight, Qt::CaseInsensitive))
        opt.backgroundBrush = QBrush(kMatchTint);
    // Numbers align right; a cut number is a wrong number.
    if (opt.displayAlignment & Qt::AlignRight) {
        opt.textElideMode = Qt::ElideNone;
        const int need = TextWidth(opt, opt.text);
        if (need > opt.rect.width())
            emit NumberNeedsWidth(index.column(), need);
    }
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
}
