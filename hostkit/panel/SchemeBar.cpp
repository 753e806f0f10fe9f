#include "SchemeBar.h"

#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

QPushButton *MakePanelButton(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    // Enter in a field must never press a panel button behind the user's back.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

SchemeBar::SchemeBar(std::function<QStringList()> names, QWidget *parent)
    : QGroupBox(QStringLiteral("过滤方案"), parent), m_names(std::move(names))
{
    m_schemes = new QListWidget(this);
    m_schemes->setObjectName(QStringLiteral("schemes"));
    auto *restore = MakePanelButton(QStringLiteral("恢复"), "restoreScheme", this);
    auto *save = MakePanelButton(QStringLiteral("保存"), "saveScheme", this);
    auto *saveAs = MakePanelButton(QStringLiteral("另存为"), "saveSchemeAs", this);
    auto *rename = MakePanelButton(QStringLiteral("重命名"), "renameScheme", this);
    auto *remove = MakePanelButton(QStringLiteral("删除"), "deleteScheme", this);
    m_writing = {save, saveAs, rename, remove};
    auto *layout = new QGridLayout(this);
    layout->addWidget(m_schemes, 0, 0, 1, 2);
    layout->addWidget(restore, 1, 0);
    layout->addWidget(save, 1, 1);
    layout->addWidget(saveAs, 2, 0);
    layout->addWidget(rename, 2, 1);
    layout->addWidget(remove, 3, 0);
    setFixedWidth(180);

    connect(restore, &QPushButton::clicked, this, [this] {
        const QString name = Selected();
        if (!name.isEmpty())
            emit RestoreRequested(name);
    });
    connect(m_schemes, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem *item) { emit RestoreRequested(item->text()); });
    connect(save, &QPushButton::clicked, this, &SchemeBar::onSaveClicked);
    connect(saveAs, &QPushButton::clicked, this, &SchemeBar::onSaveAsClicked);
    connect(rename, &QPushButton::clicked, this, &SchemeBar::onRenameClicked);
    connect(remove, &QPushButton::clicked, this, &SchemeBar::onDeleteClicked);
}

void SchemeBar::SetSchemes(const QStringList &names, const QString &select, bool writable)
{
    m_schemes->clear();
    m_schemes->addItems(names);
    const int row = names.indexOf(select);
    if (row >= 0)
        m_schemes->setCurrentRow(row);
    // A file that cannot be written still lists and restores its schemes.
    for (QPushButton *button : std::as_const(m_writing))
        button->setEnabled(writable);
}

QString SchemeBar::Selected() const
{
    const QListWidgetItem *item = m_schemes->currentItem();
    return item ? item->text() : QString();
}

void SchemeBar::onSaveClicked()
{
    const QString name = Selected();
    if (name.isEmpty())
        onSaveAsClicked();
    else
        emit SaveRequested(name);
}

void SchemeBar::onSaveAsClicked()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("另存为"), QStringLiteral("方案名称："),
                                               QLineEdit::Normal, QString(), &ok).trimmed();
    if (!ok || name.isEmpty())
        return;
    if (m_names().contains(name)
        && QMessageBox::question(this, QStringLiteral("另存为"), QStringLiteral("已有方案“%1”，是否覆盖？").arg(name))
               != QMessageBox::Yes)
        return;
    emit SaveRequested(name);
}

void SchemeBar::onRenameClicked()
{
    const QString from = Selected();
    if (from.isEmpty())
        return;
    bool ok = false;
    const QString to = QInputDialog::getText(this, QStringLiteral("重命名"), QStringLiteral("新的方案名称："),
                                             QLineEdit::Normal, from, &ok).trimmed();
    if (ok && !to.isEmpty())
        emit RenameRequested(from, to);
}

void SchemeBar::onDeleteClicked()
{
    const QString name = Selected();
    if (name.isEmpty())
        return;
    if (QMessageBox::question(this, QStringLiteral("删除"), QStringLiteral("删除过滤方案“%1”？").arg(name)) == QMessageBox::Yes)
        emit DeleteRequested(name);
}
