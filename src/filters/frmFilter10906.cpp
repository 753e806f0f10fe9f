#include "frmFilter10906.h"

#include "Dictionary.h"
#include "FilterPanel.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

frmFilter10906::frmFilter10906(QWidget *parent)
    : FilterForm(QSize(9255, 4470), parent)
{
    setObjectName(QStringLiteral("frmFilter10906"));
    QFrame *fraItem = AddFrame(QStringLiteral("fraItem"), 5895, 1230);
    lbl[0] = AddLabel(fraItem, QStringLiteral("商品编码"), 135, 255, 900);
    AddTextBox(fraItem, 0, 1065, 225);
    AddLookupButton(fraItem, 0, 2685, 225);
    Line2[0] = AddLine(fraItem, 3090, 3510, 360);
    AddTextBox(fraItem, 1, 3765, 225);
    AddLookupButton(fraItem, 1, 5415, 225);
    lbl[1] = AddLabel(fraItem, QStringLiteral("条形码"), 135, 720, 900);
    AddTextBox(fraItem, 2, 1065, 690);

    setTabOrder(txtItem[0], txtItem[1]);
    setTabOrder(txtItem[1], txtItem[2]);
    Panel()->AddFrame(fraItem);
}

void frmFilter10906::Form_Load()
{
    LoadSteps();
}

void frmFilter10906::SaveFilter(DictionaryPtr &Filter)
{
    SaveBoxes(Filter, {{"BItemNumber", 0}, {"EItemNumber", 1}, {"BarCode", 2}});
}

void frmFilter10906::LoadFilter(DictionaryPtr &Filter)
{
    LoadBoxes(Filter, {{"BItemNumber", 0}, {"EItemNumber", 1}, {"BarCode", 2}});
}

void frmFilter10906::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &, QVariant &)
{
    const int index = IndexOf(Ctrl);
    if (index == 0 || index == 1)
        LookupType = LookupKind::Item;
}
