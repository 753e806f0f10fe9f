#pragma once

#include "ColumnLayout.h"

#include <QHeaderView>

// A horizontal header with two caption rows: a group's shared caption is painted once across
// the shown sections of its members, single-row captions fill both rows.
class GroupHeaderView : public QHeaderView
{
    Q_OBJECT

public:
    explicit GroupHeaderView(QWidget *parent = nullptr);

    void SetLayout(const ColumnLayout &layout);
    const ColumnLayout &Layout() const { return m_layout; }

    QSize sizeHint() const override;

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;
    QSize sectionSizeFromContents(int logicalIndex) const override;

private:
    void paintCell(QPainter *painter, const QRect &cell, const QRect &clip, const QString &text,
                   int logicalIndex, bool withSortIndicator) const;
    // The viewport rectangle of the group's shown members, in the row band given.
    QRect groupRect(int logicalIndex, int top, int height) const;
    int rowHeight() const;

    ColumnLayout m_layout;
};
