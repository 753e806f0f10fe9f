#include "FindBar.h"

#include "GridCellDelegate.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

FindBar::FindBar(QTableView *table, QList<GridCellDelegate *> delegates, QWidget *parent)
    : QWidget(parent), m_table(table), m_delegates(std::move(delegates)), m_edit(new QLineEdit(this)),
      m_status(new QLabel(this))
{
    m_edit->setPlaceholderText(QStringLiteral("查找内容"));
    m_edit->setClearButtonEnabled(true);
    auto *previous = new QPushButton(QStringLiteral("上一个"), this);
    auto *next = new QPushButton(QStringLiteral("下一个"), this);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    for (QPushButton *b : {previous, next, close})
        b->setAutoDefault(false);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->addWidget(new QLabel(QStringLiteral("查找："), this));
    layout->addWidget(m_edit, 1);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(m_status);
    layout->addStretch();
    layout->addWidget(close);

    connect(m_edit, &QLineEdit::textChanged, this, [this](const QString &text) {
        setHighlight(text);
        if (!text.isEmpty())
            search(true, true);
    });
    connect(m_edit, &QLineEdit::returnPressed, this, &FindBar::FindNext);
    m_edit->installEventFilter(this);
    connect(next, &QPushButton::clicked, this, &FindBar::FindNext);
    connect(previous, &QPushButton::clicked, this, &FindBar::FindPrevious);
    connect(close, &QPushButton::clicked, this, &FindBar::Close);
    hide();
}

void FindBar::Open()
{
    show();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
    setHighlight(m_edit->text());
}

void FindBar::Close()
{
    setHighlight(QString());
    m_status->clear();
    hide();
    m_table->setFocus();
}

QString FindBar::StatusText() const
{
    return m_status->text();
}

void FindBar::FindNext()
{
    search(true, false);
}

void FindBar::FindPrevious()
{
    search(false, false);
}

void FindBar::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        Close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    // Shift+Enter goes back; the text box would otherwise take it as Enter.
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() & Qt::ShiftModifier) {
            FindPrevious();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::setHighlight(const QString &text)
{
    for (GridCellDelegate *d : m_delegates)
        d->SetHighlight(text);
    m_table->viewport()->update();
    for (QTableView *child : m_table->findChildren<QTableView *>())
        child->viewport()->update();
}

bool FindBar::matches(int row, int column) const
{
    return m_table->model()->index(row, column).data().toString().contains(m_edit->text(), Qt::CaseInsensitive);
}

void FindBar::search(bool forward, bool includeCurrent)
{
    const QAbstractItemModel *model = m_table->model();
    const QString text = m_edit->text();
    if (!model || text.isEmpty())
        return;
    // Shown columns in the order on screen.
    const QHeaderView *header = m_table->horizontalHeader();
    QList<int> columns;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical))
            columns << logical;
    }
    const int rows = model->rowCount();
    if (columns.isEmpty() || rows == 0) {
        m_status->setText(QStringLiteral("未找到"));
        return;
    }
    const qint64 cells = qint64(rows) * columns.size();
    const QModelIndex current = m_table->currentIndex();
    qint64 start = forward ? 0 : cells - 1;
    if (current.isValid()) {
        start = qint64(current.row()) * columns.size() + qMax<qsizetype>(0, columns.indexOf(current.column()));
        if (!includeCurrent)
            start += forward ? 1 : -1;
    }
    for (qint64 step = 0; step < cells; ++step) {
        const qint64 cell = ((forward ? start + step : start - step) % cells + cells) % cells;
        const int row = int(cell / columns.size());
        const int column = columns.at(int(cell % columns.size()));
        if (!matches(row, column))
            continue;
        const QModelIndex index = model->index(row, column);
        m_table->setCurrentIndex(index);
        m_table->scrollTo(index);
        m_status->setText(QStringLiteral("第 %1 行").arg(row + 1));
        return;
    }
    m_status->setText(QStringLiteral("未找到"));
}
