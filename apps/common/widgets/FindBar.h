#pragma once

#include <QModelIndex>
#include <QWidget>

class GridCellDelegate;
class QLabel;
class QLineEdit;
class QTableView;

// Find in a report grid: searches the displayed text of the shown columns as the user types,
// tints every cell that contains the text and moves to the next or previous match, row by row
// in the order shown, wrapping at the ends.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    FindBar(QTableView *table, QList<GridCellDelegate *> delegates, QWidget *parent = nullptr);

    // Shows the bar and puts the cursor in its text box.
    void Open();
    void Close();
    QLineEdit *Edit() const { return m_edit; }
    QString StatusText() const;

    void FindNext();
    void FindPrevious();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void search(bool forward, bool includeCurrent);
    bool matches(int row, int column) const;
    void setHighlight(const QString &text);

    QTableView *m_table;
    QList<GridCellDelegate *> m_delegates;
    QLineEdit *m_edit;
    QLabel *m_status;
};
