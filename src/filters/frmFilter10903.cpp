#include "frmFilter10903.h"

#include "Dictionary.h"
#include "FilterPanel.h"
#include "HostContextReader.h"
#include "WallClock.h"

#include <QDateTimeEdit>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {
constexpr int To = 3840, LabelLeft = 165, BeginBox = 1200;
} // namespace

frmFilter10903::frmFilter10903(QWidget *parent)
    : DatedFilterForm(QSize(9750, 5970), parent)
{
    setObjectName(QStringLiteral("frmFilter10903"));
    QFrame *fraPeriod = BuildPeriodFrame();

    QFrame *fraItem = AddFrame(QStringLiteral("fraItem"), 6480, 2280);
    auto rangeRow = [&](int top, int labelIndex, const QString &caption, int begin, int end, int toIndex) {
        AddCodeRow(fraItem, top, labelIndex, caption, begin, end);
        if (end >= 0)
            lbl2[toIndex] = AddLabel(fraItem, QStringLiteral("至"), To, top + 30, 240);
    };
    rangeRow(195, 9, QStringLiteral("会员卡号"), 2, 3, 0);
    rangeRow(555, 3, QStringLiteral("商品编码"), 5, 6, 3);
    rangeRow(915, 4, QStringLiteral("收 银 员"), 7, -1, -1);
    rangeRow(1275, 2, QStringLiteral("P O S 机"), 8, -1, -1);
    lbl[6] = AddLabel(fraItem, QStringLiteral("收银单号"), LabelLeft, 1665);
    AddTextBox(fraItem, 10, BeginBox, 1635, 1845);
    AddLabel(fraItem, QStringLiteral("（包含）"), 3105, 1665, 900);

    // Created hidden and never shown; their boxes still take part in saving and restoring.
    rangeRow(2805, 1, QStringLiteral("客    户"), 11, 4, 2);
    rangeRow(3030, 7, QStringLiteral("品    牌"), 9, -1, -1);
    rangeRow(3120, 0, QStringLiteral("分    店"), 0, 1, 1);
    Line2[1] = AddLine(fraItem, 3405, 3825, 2805 + 150);
    Line2[2] = AddLine(fraItem, 3405, 3825, 3120 + 150);
    HideAll({lbl[1], txtItem[11], cmdItem[11], lbl2[2], txtItem[4], cmdItem[4], Line2[1],
             lbl[7], txtItem[9], cmdItem[9],
             lbl[0], txtItem[0], cmdItem[0], lbl2[1], txtItem[1], cmdItem[1], Line2[2]});

    setTabOrder(DtpBDate, DtpEDate);
    QWidget *previous = DtpEDate;
    for (int i : {2, 3, 5, 6, 7, 8, 10}) {
        setTabOrder(previous, txtItem[i]);
        previous = txtItem[i];
    }

    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
}

void frmFilter10903::Form_Load()
{
    Guarded([this] {
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime minute = WallClock::At(now.date(), QTime(now.time().hour(), now.time().minute()));
        DtpBDate->setDateTime(minute);
        DtpEDate->setDateTime(minute);
    });
    LoadSteps();
    Guarded([this] { LockBranchRow({lbl[0], lbl2[1], Line2[2], txtItem[0], cmdItem[0], txtItem[1], cmdItem[1]}); });
}

void frmFilter10903::SaveFilter(DictionaryPtr &Filter)
{
    // The pickers' seconds never reach the keys: the period runs from :00 to :59 of its minutes.
    Guarded([&] { Filter->SetValue(QStringLiteral("BDate"), DtpBDate->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:00"))); });
    Guarded([&] { Filter->SetValue(QStringLiteral("EDate"), DtpEDate->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:59"))); });
    SaveBoxes(Filter, {{"BVipNum", 2}, {"EVipNum", 3}, {"BItemNum", 5}, {"EItemNum", 6}, {"Bcustnum", 11},
                       {"Ecustnum", 4}, {"Cashier", 7}, {"Pos", 8}, {"Brand", 9}, {"Billnumber", 10}});
    Guarded([&] { Filter->SetValue(QStringLiteral("BBranchNum"), BranchNumOr(0)); });
    Guarded([&] { Filter->SetValue(QStringLiteral("EBranchNum"), BranchNumOr(1)); });
}

void frmFilter10903::LoadFilter(DictionaryPtr &Filter)
{
    LoadPickers(Filter);
    LoadBoxes(Filter, {{"BVipNum", 2}, {"EVipNum", 3}, {"BItemNum", 5}, {"EItemNum", 6}, {"Bcustnum", 11},
                       {"Ecustnum", 4}, {"Cashier", 7}, {"Pos", 8}, {"Brand", 9}, {"Billnumber", 10},
                       {"BBranchNum", 0}, {"EBranchNum", 1}});
}

void frmFilter10903::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    const int index = IndexOf(Ctrl);
    if (AnswerBranchOrCard(index, index <= 1 ? BranchCondition() : QString(), LookupType, Condition))
        return;
    switch (index) {
    case 4: case 11: LookupType = LookupKind::Customer; break;
    case 5: case 6: LookupType = LookupKind::Item; break;
    case 7: LookupType = LookupKind::Cashier; break;
    case 8: LookupType = LookupKind::Pos; break;
    case 9: LookupType = LookupKind::Brand; break;
    default: break;
    }
}
