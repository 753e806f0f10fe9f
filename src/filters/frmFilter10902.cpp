#include "frmFilter10902.h"

#include "filters/ComboFill.h"
#include "Dictionary.h"
#include "FilterPanel.h"
#include "HostContextReader.h"
#include "VariantConvert.h"
#include "WallClock.h"
#include "VelError.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {
// Rows of fraItem, top in twips: card number, member name, branch.
constexpr int RowCard = 375, RowName = 735, RowBranch = 1095;
} // namespace

frmFilter10902::frmFilter10902(QWidget *parent)
    : FilterForm(QSize(9705, 5640), parent)
{
    setObjectName(QStringLiteral("frmFilter10902"));

    QFrame *fraPeriod = AddFrame(QStringLiteral("fraPeriod"), 6480, 855);
    AddLabel(fraPeriod, QStringLiteral("起始日期"), 165, 345);
    DtpBDate = AddDatePicker(fraPeriod, QStringLiteral("DtpBDate"), QStringLiteral("yyyy-MM-dd"), 1200, 270, 2040);
    Line2[0] = AddLine(fraPeriod, 3405, 3825, 420);
    DtpEDate = AddDatePicker(fraPeriod, QStringLiteral("DtpEDate"), QStringLiteral("yyyy-MM-dd"), 4080, 270, 2085);
    // Until a filter is restored: from the first day of this month to today.
    const QDate today = QDate::currentDate();
    DtpBDate->setDateTime(WallClock::At(QDate(today.year(), today.month(), 1)));
    DtpEDate->setDateTime(WallClock::At(today));

    QFrame *fraItem = AddFrame(QStringLiteral("fraItem"), 6480, 1500);
    AddCodeRow(fraItem, RowCard, 3, QStringLiteral("会员卡号"), 2, 3, 2);
    lbl[4] = AddLabel(fraItem, QStringLiteral("姓    名"), 165, RowName + 30);
    AddTextBox(fraItem, 4, 1200, RowName, 4875);
    AddCodeRow(fraItem, RowBranch, 6, QStringLiteral("消费分店"), 0, 1, 1);
    HideAll({lbl[6], txtItem[0], cmdItem[0], txtItem[1], cmdItem[1], Line2[1]});

    QFrame *Frame1 = AddFrame(QStringLiteral("Frame1"), 6480, 855);
    AddLabel(Frame1, QStringLiteral("汇总依据"), 165, 300);
    cboGroup = AddComboBox(Frame1, QStringLiteral("cboGroup"), 1200, 240, 1920);
    chkShowSumOnly = AddCheckBox(Frame1, QStringLiteral("chkShowSumOnly"), QStringLiteral("仅显示汇总行"), 3630, 285);

    setTabOrder(DtpBDate, DtpEDate);
    setTabOrder(DtpEDate, txtItem[2]);
    setTabOrder(txtItem[2], txtItem[3]);
    setTabOrder(txtItem[3], txtItem[4]);
    setTabOrder(txtItem[4], cboGroup);
    setTabOrder(cboGroup, chkShowSumOnly);

    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
    Panel()->AddFrame(Frame1);
}

void frmFilter10902::fillGroupList()
{
    // The branch grouping only makes sense at a head office whose cards are shared.
    const bool headOfficeShared = GetSVCardShareType() && !GetIsBranch();
    QList<QVariantList> table;
    table << QVariantList{0, QStringLiteral("会员卡号"), 7};
    if (headOfficeShared)
        table << QVariantList{1, QStringLiteral("消费分店"), 7};
    table << QVariantList{2, QStringLiteral("卡类别"), 7} << QVariantList{3, QStringLiteral("业务员"), 7};
    FillCombo(cboGroup, table, 0);
}

void frmFilter10902::Form_Load()
{
    Guarded([this] { fillGroupList(); });
    LoadSteps();
    Guarded([this] {
        if (cboGroup->count() > 0)
            cboGroup->setCurrentIndex(0);
    });
}

void frmFilter10902::ResetFilter()
{
    Guarded([this] {
        if (cboGroup->count() > 0)
            cboGroup->setCurrentIndex(0);
    });
}

void frmFilter10902::SaveFilter(DictionaryPtr &Filter)
{
    Guarded([&] {
        const QString fmt = QLatin1String(VariantConvert::DateTimeFormat);
        Filter->SetValue(QStringLiteral("BDate"), DtpBDate->dateTime().toString(fmt));
        Filter->SetValue(QStringLiteral("EDate"), DtpEDate->dateTime().toString(fmt));
        // A card number given in one box only becomes both ends of the range.
        const QString from = Trimmed(txtItem[2]), to = Trimmed(txtItem[3]);
        Filter->SetValue(QStringLiteral("BVipNum"), from.isEmpty() && !to.isEmpty() ? to : from);
        Filter->SetValue(QStringLiteral("EVipNum"), to.isEmpty() && !from.isEmpty() ? from : to);
        Filter->SetValue(QStringLiteral("VipName"), Trimmed(txtItem[4]));
        Filter->SetValue(QStringLiteral("BBranchNum"), Trimmed(txtItem[0]));
        Filter->SetValue(QStringLiteral("EBranchNum"), Trimmed(txtItem[1]));
        if (cboGroup->currentIndex() < 0)
            throw VelError(QStringLiteral("No grouping selected"));
        Filter->SetValue(QStringLiteral("GroupBy"), VariantConvert::ToInt32(cboGroup->currentData()));
        Filter->SetValue(QStringLiteral("SumOnly"), CheckValue(chkShowSumOnly));
    });
}

void frmFilter10902::LoadFilter(DictionaryPtr &Filter)
{
    const std::pair<const char *, QDateTimeEdit *> pickers[] = {{"BDate", DtpBDate}, {"EDate", DtpEDate}};
    for (const auto &[key, picker] : pickers)
        Guarded([&] { SetPickerFrom(picker, Filter->GetValue(QLatin1String(key), QString())); });
    const std::pair<const char *, int> boxes[] = {{"BBranchNum", 0}, {"EBranchNum", 1}, {"BVipNum", 2}, {"EVipNum", 3}, {"VipName", 4}};
    for (const auto &[key, index] : boxes)
        Guarded([&] { txtItem[index]->setText(VariantConvert::ToText(Filter->GetValue(QLatin1String(key), QString()))); });
    Guarded([&] {
        const qint32 group = VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("GroupBy"), 0));
        cboGroup->setCurrentIndex(FindComboItemData(cboGroup, group));
    });
    Guarded([&] { chkShowSumOnly->setChecked(VariantConvert::ToInt16(Filter->GetValue(QStringLiteral("SumOnly"), 0)) != 0); });
    Guarded([this] { IsShowBranch(); });
}

void frmFilter10902::IsShowBranch()
{
    if (!(GetIsBranch() && GetSVCardShareType()))
        return;
    HideBranchRow({lbl[6], txtItem[0], cmdItem[0], txtItem[1], cmdItem[1], Line2[1]});
    // The rows close up over the hidden branch row once; a later restore only refills the boxes.
    if (m_branchRowRemoved)
        return;
    m_branchRowRemoved = true;
    MoveUp({lbl[3], txtItem[2], cmdItem[2], txtItem[3], cmdItem[3], Line2[2]}, 180);
    MoveUp({lbl[4], txtItem[4]}, 150);
}

void frmFilter10902::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    const int index = IndexOf(Ctrl);
    if (index <= 3)
        AnswerBranchOrCard(index, BranchCondition(), LookupType, Condition);
}
