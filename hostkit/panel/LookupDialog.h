#pragma once

#include "Types.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QTableWidget;
class QTimer;

// A searchable list of one kind of base data (code and name). Typing narrows the list;
// double-click or Enter picks the current row, Esc cancels. A failing fetch is shown in the
// dialog, which stays usable.
class LookupDialog : public QDialog
{
    Q_OBJECT

public:
    // Rows for a search text, with fields "FNumber" and "FName". Throws on failure.
    using Fetch = std::function<RecordsetPtr(const QString &searchText)>;

    LookupDialog(const QString &title, Fetch fetch, QWidget *parent = nullptr);

    // The code of the row picked, empty until one is picked.
    QString ChosenCode() const { return m_chosen; }
    // The message shown instead of rows, empty when the list loaded.
    QString ErrorText() const;
    int RowCount() const;

    // The title for a lookup type code ("会员卡", "分店", ...).
    static QString TitleFor(qint32 lookupType);

    // Reloads the list for the current search text.
    void Refresh();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void pickCurrent();

    Fetch m_fetch;
    QLineEdit *m_search;
    QTableWidget *m_table;
    QLabel *m_status;
    QTimer *m_debounce;
    QString m_chosen;
};
