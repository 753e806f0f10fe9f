#include "LookupDialog.h"

#include "Recordset.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

LookupDialog::LookupDialog(const QString &title, Fetch fetch, QWidget *parent)
    : QDialog(parent), m_fetch(std::move(fetch)), m_search(new QLineEdit(this)),
      m_table(new QTableWidget(0, 2, this)), m_status(new QLabel(this)), m_debounce(new QTimer(this))
{
    setObjectName(QStringLiteral("LookupDialog"));
    setWindowTitle(QStringLiteral("选择%1").arg(title));
    resize(460, 420);

    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("输入编码或名称查找"));
    m_search->setClearButtonEnabled(true);
    m_search->installEventFilter(this);

    m_table->setObjectName(QStringLiteral("list"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("编码"), QStringLiteral("名称")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->installEventFilter(this);

    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->hide();

    auto *buttons = new QDialogButtonBox(this);
    auto *ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    ok->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &LookupDialog::pickCurrent);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_status);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);

    m_debounce->setSingleShot(true);
    m_debounce->setInterval(250);
    connect(m_debounce, &QTimer::timeout, this, &LookupDialog::Refresh);
    connect(m_search, &QLineEdit::textEdited, m_debounce, qOverload<>(&QTimer::start));
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &LookupDialog::pickCurrent);

    Refresh();
}

QString LookupDialog::TitleFor(qint32 lookupType)
{
    switch (lookupType) {
    case 1: return QStringLiteral("客户");
    case 4: return QStringLiteral("商品");
    case 5: return QStringLiteral("分店");
    case 47: return QStringLiteral("POS机");
    case 49: return QStringLiteral("收银员");
    case 50: return QStringLiteral("会员卡");
    case 51: return QStringLiteral("卡类别");
    case 713: return QStringLiteral("品牌");
    default: return QStringLiteral("基础资料");
    }
}

QString LookupDialog::ErrorText() const
{
    return m_status->isHidden() ? QString() : m_status->text();
}

int LookupDialog::RowCount() const
{
    return m_table->rowCount();
}

void LookupDialog::Refresh()
{
    m_table->setRowCount(0);
    RecordsetPtr rows;
    QString error;
    try {
        rows = m_fetch(m_search->text().trimmed());
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    if (!error.isEmpty() || !rows) {
        m_status->setText(QStringLiteral("无法读取基础资料，请检查数据库连接。\n%1").arg(error));
        m_status->show();
        return;
    }
    m_status->hide();
    const int code = rows->FieldIndex(QStringLiteral("FNumber"));
    const int name = rows->FieldIndex(QStringLiteral("FName"));
    m_table->setRowCount(int(rows->RecordCount()));
    for (qint64 r = 0; r < rows->RecordCount(); ++r) {
        m_table->setItem(int(r), 0, new QTableWidgetItem(code >= 0 ? rows->TextAt(r, code) : QString()));
        m_table->setItem(int(r), 1, new QTableWidgetItem(name >= 0 ? rows->TextAt(r, name) : QString()));
    }
    m_table->resizeColumnToContents(0);
    m_table->setColumnWidth(0, qMax(m_table->columnWidth(0) + 16, 120));
    if (m_table->rowCount() > 0)
        m_table->selectRow(0);
}

void LookupDialog::pickCurrent()
{
    const int row = m_table->currentRow();
    if (row < 0 || !m_table->item(row, 0))
        return;
    m_chosen = m_table->item(row, 0)->text();
    accept();
}

bool LookupDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        if (watched == m_search && m_debounce->isActive()) {
            m_debounce->stop();
            Refresh();
        }
        pickCurrent();
        return true;
    }
    // Arrow keys in the search box move through the list.
    if (watched == m_search && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up)) {
        const int row = m_table->currentRow() + (key->key() == Qt::Key_Down ? 1 : -1);
        if (row >= 0 && row < m_table->rowCount())
            m_table->selectRow(row);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
