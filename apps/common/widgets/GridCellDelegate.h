#pragma once

#include <QStyledItemDelegate>

// Paints the report grid's cells: a number is never elided (a number wider than its column
// asks for a wider column instead), and cells containing the text being searched for are
// tinted.
class GridCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void SetHighlight(const QString &text) { m_highlight = text; }
    const QString &Highlight() const { return m_highlight; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // The width a cell's text needs, margins included.
    static int TextWidth(const QStyleOptionViewItem &option, const QString &text);

signals:
    void NumberNeedsWidth(int column, int width) const;

private:
    QString m_highlight;
};
