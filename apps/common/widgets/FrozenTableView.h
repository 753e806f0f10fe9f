#pragma once

#include <QTableView>

class GroupHeaderView;

// A table whose first columns stay in place while the rest scroll: a second view laid over
// the left edge shares the model, the selection and the vertical scroll position.
class FrozenTableView : public QTableView
{
    Q_OBJECT

public:
    explicit FrozenTableView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    void SetFrozenColumnCount(int count);
    int FrozenColumnCount() const { return m_frozen; }
    QTableView *FrozenView() const { return m_frozenView; }
    GroupHeaderView *GroupHeader() const { return m_header; }
    GroupHeaderView *FrozenGroupHeader() const { return m_frozenHeader; }
    // Shows or hides a column in both views.
    void SetColumnShown(int column, bool shown);

protected:
    void resizeEvent(QResizeEvent *event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    void updateGeometries() override;

private:
    void syncColumns();
    // The nearest scroll offset, in the direction moved, at which a column starts right at the
    // frozen edge, so that no column is cut by the frozen view.
    int snappedOffset(int value, bool forward) const;
    void snapHorizontalScroll(int value);
    void updateFrozenGeometry();
    int frozenWidth() const;

    QTableView *m_frozenView;
    GroupHeaderView *m_header;
    GroupHeaderView *m_frozenHeader;
    int m_frozen = 0;
    bool m_syncing = false;
    int m_lastOffset = 0;
};
