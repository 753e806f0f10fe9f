#include "frmFilter10901.h"

#include "Dictionary.h"
#include "FilterPanel.h"
#include "HostContextReader.h"
#include "VariantConvert.h"

#include <QCheckBox>
#include <QDate>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

#include "dialog/Twips.h"

namespace {
// Rows of fraItem, top in twips: card type, card number, member name, branch.
constexpr int RowCardType = 405, RowCard = 765, RowName = 1125, RowBranch = 1485;
} // namespace

frmFilter10901::frmFilter10901(QWidget *parent)
    : MonthFilterForm(QSize(10125, 6600), parent)
{
    setObjectName(QStringLiteral("frmFilter10901"));

    QFrame *fraPeriod = BuildMonthFrame(0, 0, 12, QStringLiteral("月"));

    QFrame *fraItem = AddFrame(QStringLiteral("fraItem"), 6480, 1860);
    // The card-type end box is filled by the button of index 4.
    AddCodeRow(fraItem, RowCardType, 2, QStringLiteral("卡 类 别"), 5, 6, 0, 4);
    AddCodeRow(fraItem, RowCard, 1, QStringLiteral("会员卡号"), 2, 3, 2);
    lbl[3] = AddLabel(fraItem, QStringLiteral("会员姓名"), 165, RowName + 30);
    AddTextBox(fraItem, 4, 1200, RowName, 4875);
    AddCodeRow(fraItem, RowBranch, 0, QStringLiteral("分    店"), 0, 1, 1);
    HideAll({lbl[0], txtItem[0], cmdItem[0], txtItem[1], cmdItem[1], Line2[1]});

    QFrame *fraGroup = AddFrame(QStringLiteral("fraGroup"), 6480, 700);
    chkShowSumOnly = AddCheckBox(fraGroup, QStringLiteral("chkShowSumOnly"), QStringLiteral("仅显示汇总行"), 1200, 225);
    chkShowVipDo = AddCheckBox(fraGroup, QStringLiteral("chkShowVipDo"), QStringLiteral("无发生额不显示"), 3630, 225);
    chkShowVipDo->setChecked(true);

    for (int i : {0, 2, 5})
        txtItem[i]->installEventFilter(this);

    setTabOrder(DtpBDate, DtpEDate);
    setTabOrder(DtpEDate, txtItem[5]);
    setTabOrder(txtItem[5], txtItem[6]);
    setTabOrder(txtItem[6], txtItem[2]);
    setTabOrder(txtItem[2], txtItem[3]);
    setTabOrder(txtItem[3], txtItem[4]);
    setTabOrder(txtItem[4], chkShowSumOnly);
    setTabOrder(chkShowSumOnly, chkShowVipDo);

    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
    Panel()->AddFrame(fraGroup);
}

void frmFilter10901::Form_Load()
{
    LoadSteps();
    Guarded([this] { ShowPeriodOf(QDate::currentDate()); });
}

void frmFilter10901::SaveFilter(DictionaryPtr &Filter)
{
    // Stops at the first failing key; the keys before it stay written.
    Guarded([&] {
        Filter->SetValue(QStringLiteral("Year"), qint32(DtpBDate->value()));
        Filter->SetValue(QStringLiteral("Month"), VariantConvert::ToDouble(DtpEDate->cleanText()));
        const bool sharedAtBranch = GetIsBranch() && GetSVCardShareType();
        Filter->SetValue(QStringLiteral("BBranchNum"), sharedAtBranch ? QString() : Trimmed(txtItem[0]));
        const bool sharedAtBranchAgain = GetIsBranch() && GetSVCardShareType();
        Filter->SetValue(QStringLiteral("EBranchNum"), sharedAtBranchAgain ? QString() : Trimmed(txtItem[1]));
        Filter->SetValue(QStringLiteral("BVipNum"), Trimmed(txtItem[2]));
        Filter->SetValue(QStringLiteral("EVipNum"), Trimmed(txtItem[3]));
        Filter->SetValue(QStringLiteral("BVipTypeNum"), Trimmed(txtItem[5]));
        Filter->SetValue(QStringLiteral("EVipTypeNum"), Trimmed(txtItem[6]));
        Filter->SetValue(QStringLiteral("VipName"), Trimmed(txtItem[4]));
        Filter->SetValue(QStringLiteral("ShowSumOnly"), CheckValue(chkShowSumOnly));
        Filter->SetValue(QStringLiteral("ShowVipDo"), CheckValue(chkShowVipDo));
    });
}

void frmFilter10901::LoadFilter(DictionaryPtr &Filter)
{
    Guarded([&] { DtpBDate->setValue(VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("Year"), QString()))); });
    Guarded([&] {
        const double month = VariantConvert::ToDouble(Filter->GetValue(QStringLiteral("Month"), QDate::currentDate().month()));
        DtpEDate->setValue(int(month));
    });
    const std::pair<const char *, int> boxes[] = {{"BBranchNum", 0}, {"EBranchNum", 1}, {"BVipNum", 2}, {"EVipNum", 3},
                                                  {"BVipTypeNum", 5}, {"EVipTypeNum", 6}, {"VipName", 4}};
    for (const auto &[key, index] : boxes)
        Guarded([&] { txtItem[index]->setText(VariantConvert::ToText(Filter->GetValue(QLatin1String(key), QString()))); });
    Guarded([&] {
        chkShowSumOnly->setChecked(VariantConvert::ToInt16(Filter->GetValue(QStringLiteral("ShowSumOnly"), 0)) != 0);
    });
    Guarded([&] { chkShowVipDo->setChecked(VariantConvert::ToInt16(Filter->GetValue(QStringLiteral("ShowVipDo"), 0)) != 0); });
    Guarded([this] { IsShowBranch(); });
}

void frmFilter10901::IsShowBranch()
{
    if (GetSVCardShareType() && !GetIsBranch())
        return;
    HideBranchRow({lbl[0], txtItem[0], cmdItem[0], txtItem[1], cmdItem[1], Line2[1]});
    // The rows close up over the hidden branch row once; a later restore only refills the boxes.
    if (m_branchRowRemoved)
        return;
    m_branchRowRemoved = true;
    MoveUp({lbl[2], txtItem[5], cmdItem[4], txtItem[6], cmdItem[5], Line2[0], lbl[1], txtItem[2], cmdItem[2], txtItem[3], cmdItem[3], Line2[2]}, 210);
    MoveUp({lbl[3], txtItem[4]}, 165);
}

void frmFilter10901::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    const int index = IndexOf(Ctrl);
    if (index == 5 || index == 6)
        LookupType = LookupKind::CardType;
    else if (index <= 3)
        AnswerBranchOrCard(index, QLatin1String(FilterText::BranchHeadOnly), LookupType, Condition);
}

void frmFilter10901::txtItem_LostFocus(int Index)
{
    int partner = -1;
    switch (Index) {
    case 0: partner = 1; break;
    case 2: partner = 3; break;
    case 5: partner = 6; break;
    default: return;
    }
    if (Trimmed(txtItem[partner]).isEmpty())
        txtItem[partner]->setText(Trimmed(txtItem[Index]));
}

bool frmFilter10901::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        const int index = IndexOf(watched);
        if (index >= 0)
            txtItem_LostFocus(index);
    }
    return FilterForm::eventFilter(watched, event);
}
