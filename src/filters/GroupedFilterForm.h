#pragma once

#include "DatedFilterForm.h"

#include <QList>
#include <QVariantList>

class QCheckBox;
class QComboBox;

// The dialogs of reports 10904 and 10905: a period to the second, card and card-type ranges,
// optionally an item range, a hidden branch row, and Frame1 with the grouping and the
// summary-rows-only switch.
class GroupedFilterForm : public DatedFilterForm
{
    Q_OBJECT

public:
    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

    QComboBox *cboGroup = nullptr;
    QCheckBox *chkShowSumOnly = nullptr;

protected:
    struct Layout {
        QSize client;
        int itemFrameHeight;
        int cardRowTop;
        int cardTypeRowTop;
        int itemRowTop;       // -1: no item row
        int branchRowTop;
        int sumOnlyTop;
    };
    GroupedFilterForm(const Layout &layout, QList<QVariantList> groups, QWidget *parent);

    void Form_Load() override;

private:
    QList<QVariantList> m_groups;
    bool m_withItems;
};

// Filter dialog of report 10904 (gift redemptions): grouping by item or by member.
class frmFilter10904 : public GroupedFilterForm
{
    Q_OBJECT

public:
    explicit frmFilter10904(QWidget *parent = nullptr);
};

// Filter dialog of report 10905 (top-up journal): no item range, grouping by member only.
class frmFilter10905 : public GroupedFilterForm
{
    Q_OBJECT

public:
    explicit frmFilter10905(QWidget *parent = nullptr);
};
