#include "GroupedFilterForm.h"

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

GroupedFilterForm::GroupedFilterForm(const Layout &layout, QList<QVariantList> groups, QWidget *parent)
    : DatedFilterForm(layout.client, parent), m_groups(std::move(groups)), m_withItems(layout.itemRowTop >= 0)
{
    QFrame *fraPeriod = BuildPeriodFrame();

    QFrame *fraItem = AddFrame(QStringLiteral("fraItem"), 6480, layout.itemFrameHeight);
    AddCodeRow(fraItem, layout.cardRowTop, 9, QStringLiteral("会员卡号"), 2, 3, 0);
    AddCodeRow(fraItem, layout.cardTypeRowTop, 1, QStringLiteral("卡 类 别"), 11, 4, 1);
    if (m_withItems)
        AddCodeRow(fraItem, layout.itemRowTop, 3, QStringLiteral("商品编码"), 5, 6, 3);
    // Created hidden below the frame's visible height; its boxes still take part in saving.
    AddCodeRow(fraItem, layout.branchRowTop, 0, QStringLiteral("分    店"), 0, 1, 2);
    HideAll({lbl[0], txtItem[0], cmdItem[0], Line2[2], txtItem[1], cmdItem[1]});

    QFrame *Frame1 = AddFrame(QStringLiteral("Frame1"), 6480, 1065);
    AddLabel(Frame1, QStringLiteral("汇总依据"), 120, 300);
    cboGroup = AddComboBox(Frame1, QStringLiteral("cboGroup"), 1215, 240, 1920);
    chkShowSumOnly = AddCheckBox(Frame1, QStringLiteral("chkShowSumOnly"), QStringLiteral("仅显示汇总行"), 3630, layout.sumOnlyTop);

    setTabOrder(DtpBDate, DtpEDate);
    QWidget *previous = DtpEDate;
    for (int i : {2, 3, 11, 4, 5, 6}) {
        if (!txtItem.count(i))
            continue;
        setTabOrder(previous, txtItem[i]);
        previous = txtItem[i];
    }
    setTabOrder(previous, cboGroup);
    setTabOrder(cboGroup, chkShowSumOnly);

    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
    Panel()->AddFrame(Frame1);
}

void GroupedFilterForm::Form_Load()
{
    Guarded([this] {
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime second = WallClock::At(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()));
        DtpBDate->setDateTime(second);
        DtpEDate->setDateTime(second);
    });
    Guarded([this] { FillCombo(cboGroup, m_groups, 0); });
    LoadSteps();
    Guarded([this] { LockBranchRow({lbl[0], Line2[2], txtItem[0], cmdItem[0], txtItem[1], cmdItem[1]}); });
}

void GroupedFilterForm::SaveFilter(DictionaryPtr &Filter)
{
    const QString fmt = QLatin1String(VariantConvert::DateTimeFormat);
    Guarded([&] { Filter->SetValue(QStringLiteral("BDate"), DtpBDate->dateTime().toString(fmt)); });
    Guarded([&] { Filter->SetValue(QStringLiteral("EDate"), DtpEDate->dateTime().toString(fmt)); });
    SaveBoxes(Filter, {{"BCardID", 2}, {"ECardID", 3}});
    if (m_withItems)
        SaveBoxes(Filter, {{"BItemNum", 5}, {"EItemNum", 6}});
    SaveBoxes(Filter, {{"BTypeID", 11}, {"ETypeID", 4}});
    Guarded([&] { Filter->SetValue(QStringLiteral("BStockNo"), BranchNumOr(0)); });
    Guarded([&] { Filter->SetValue(QStringLiteral("EStockNo"), BranchNumOr(1)); });
    Guarded([&] {
        if (cboGroup->currentIndex() < 0)
            throw VelError(QStringLiteral("No grouping selected"));
        Filter->SetValue(QStringLiteral("GroupBy"), VariantConvert::ToInt32(cboGroup->currentData()));
    });
    Guarded([&] { Filter->SetValue(QStringLiteral("SumOnly"), CheckValue(chkShowSumOnly)); });
}

void GroupedFilterForm::LoadFilter(DictionaryPtr &Filter)
{
    LoadPickers(Filter);
    LoadBoxes(Filter, {{"BCardID", 2}, {"ECardID", 3}});
    if (m_withItems)
        LoadBoxes(Filter, {{"BItemNum", 5}, {"EItemNum", 6}});
    LoadBoxes(Filter, {{"BTypeID", 11}, {"ETypeID", 4}, {"BStockNo", 0}, {"EStockNo", 1}});
    const qint32 group = VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("GroupBy"), QVariant::fromValue(qint16(0))));
    cboGroup->setCurrentIndex(FindComboItemData(cboGroup, group));
    const qint16 sumOnly = VariantConvert::ToInt16(Filter->GetValue(QStringLiteral("SumOnly"), QVariant::fromValue(qint16(0))));
    chkShowSumOnly->setChecked(sumOnly != 0);
}

void GroupedFilterForm::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    const int index = IndexOf(Ctrl);
    if (AnswerBranchOrCard(index, index <= 1 ? BranchCondition() : QString(), LookupType, Condition))
        return;
    if (index == 4 || index == 11)
        LookupType = LookupKind::CardType;
    else if (index == 5 || index == 6)
        LookupType = LookupKind::Item;
}

frmFilter10904::frmFilter10904(QWidget *parent)
    : GroupedFilterForm({QSize(9750, 5970), 1575, 285, 645, 1005, 1770, 285},
                        {{0, QStringLiteral("商品"), 7}, {1, QStringLiteral("会员"), 7}}, parent)
{
    setObjectName(QStringLiteral("frmFilter10904"));
}

frmFilter10905::frmFilter10905(QWidget *parent)
    : GroupedFilterForm({QSize(9750, 5970), 1395, 300, 660, -1, 1605, 240}, {{0, QStringLiteral("会员"), 7}}, parent)
{
    setObjectName(QStringLiteral("frmFilter10905"));
}
