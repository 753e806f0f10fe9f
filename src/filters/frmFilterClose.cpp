#include "frmFilterClose.h"

#include "Dictionary.h"
#include "FilterPanel.h"
#include "VariantConvert.h"
#include "WallClock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateTimeEdit>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "dialog/Twips.h"

namespace {

QSpinBox *addSpin(QWidget *frame, const char *name, int min, int max, int left, int top)
{
    auto *box = new QSpinBox(frame);
    box->setObjectName(QLatin1String(name));
    box->setRange(min, max);
    box->setGeometry(Twips::Rect(left, top, 1600, 300));
    return box;
}

const QString headOnly = QLatin1String(FilterText::BranchHeadOnly);

} // namespace

frmFilter10909::frmFilter10909(QWidget *parent) : FilterForm(QSize(10125, 5400), parent)
{
    setObjectName(QStringLiteral("frmFilter10909"));
    QFrame *fraPeriod = AddFrame(QStringLiteral("fraPeriod"), 6480, 855);
    AddLabel(fraPeriod, QStringLiteral("截止日期"), 165, 345, 900);
    DtpEDate = AddDatePicker(fraPeriod, QStringLiteral("DtpEDate"), QLatin1String(VariantConvert::DateTimeFormat), 1200, 270, 2400);

    QFrame *fraItem = AddTwoCodeRows(QStringLiteral("发卡分店"), QStringLiteral("卡 类 别"), DtpEDate);

    QFrame *fraGroup = AddFrame(QStringLiteral("fraGroup"), 6480, 700);
    chkShowCards = AddCheckBox(fraGroup, QStringLiteral("chkShowCards"), QStringLiteral("列出余额超过"), 1200, 225);
    txtMinBalance = addSpin(fraGroup, "txtMinBalance", 0, 100000000, 3200, 200);
    AddLabel(fraGroup, QStringLiteral("元的卡"), 4900, 245, 900);

    setTabOrder(txtItem[3], chkShowCards);
    setTabOrder(chkShowCards, txtMinBalance);
    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
    Panel()->AddFrame(fraGroup);
}

void frmFilter10909::Form_Load()
{
    LoadSteps();
    Guarded([this] {
        // The end of the month just closed.
        const QDate today = QDate::currentDate();
        DtpEDate->setDateTime(WallClock::At(today.addDays(-today.day()), QTime(23, 59, 59)));
        txtMinBalance->setValue(5000);
    });
}

void frmFilter10909::SaveFilter(DictionaryPtr &Filter)
{
    Guarded([&] {
        Filter->SetValue(QStringLiteral("EDate"), DtpEDate->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:59")));
        SaveBoxes(Filter, {{"BBranchNum", 0}, {"EBranchNum", 1}, {"BVipTypeNum", 2}, {"EVipTypeNum", 3}});
        Filter->SetValue(QStringLiteral("ShowCards"), CheckValue(chkShowCards));
        Filter->SetValue(QStringLiteral("MinBalance"), double(txtMinBalance->value()));
    });
}

void frmFilter10909::LoadFilter(DictionaryPtr &Filter)
{
    Guarded([&] { SetPickerFrom(DtpEDate, Filter->GetValue(QStringLiteral("EDate"), QString())); });
    LoadBoxes(Filter, {{"BBranchNum", 0}, {"EBranchNum", 1}, {"BVipTypeNum", 2}, {"EVipTypeNum", 3}});
    Guarded([&] { chkShowCards->setChecked(VariantConvert::ToInt16(Filter->GetValue(QStringLiteral("ShowCards"), 0)) != 0); });
    Guarded([&] { txtMinBalance->setValue(int(VariantConvert::ToDouble(Filter->GetValue(QStringLiteral("MinBalance"), 5000)))); });
}

void frmFilter10909::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    const int index = IndexOf(Ctrl);
    if (index == 2 || index == 3)
        LookupType = LookupKind::CardType;
    else
        AnswerBranchOrCard(index, headOnly, LookupType, Condition);
}

frmFilter10910::frmFilter10910(QWidget *parent) : DatedFilterForm(QSize(10125, 4800), parent)
{
    setObjectName(QStringLiteral("frmFilter10910"));
    QFrame *fraPeriod = BuildPeriodFrame();
    setTabOrder(DtpBDate, DtpEDate);
    QFrame *fraItem = AddTwoCodeRows(QStringLiteral("发卡分店"), QStringLiteral("消费分店"), DtpEDate);
    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
}

void frmFilter10910::Form_Load()
{
    LoadSteps();
    Guarded([this] {
        // The month just closed.
        const QDate first = QDate::currentDate().addMonths(-1);
        DtpBDate->setDateTime(WallClock::At(QDate(first.year(), first.month(), 1)));
        DtpEDate->setDateTime(WallClock::At(QDate(first.year(), first.month(), first.daysInMonth()), QTime(23, 59)));
    });
}

void frmFilter10910::SaveFilter(DictionaryPtr &Filter)
{
    Guarded([&] { Filter->SetValue(QStringLiteral("BDate"), DtpBDate->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:00"))); });
    Guarded([&] { Filter->SetValue(QStringLiteral("EDate"), DtpEDate->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:59"))); });
    SaveBoxes(Filter, {{"BBranchNum", 0}, {"EBranchNum", 1}, {"BSpendNum", 2}, {"ESpendNum", 3}});
}

void frmFilter10910::LoadFilter(DictionaryPtr &Filter)
{
    LoadPickers(Filter);
    LoadBoxes(Filter, {{"BBranchNum", 0}, {"EBranchNum", 1}, {"BSpendNum", 2}, {"ESpendNum", 3}});
}

void frmFilter10910::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    // Both rows are branches.
    const int index = IndexOf(Ctrl);
    AnswerBranchOrCard(index >= 2 ? index - 2 : index, headOnly, LookupType, Condition);
}

frmFilter10911::frmFilter10911(QWidget *parent) : MonthFilterForm(QSize(10125, 4800), parent)
{
    setObjectName(QStringLiteral("frmFilter10911"));
    QFrame *fraPeriod = BuildMonthFrame(1901, 1, 4, QStringLiteral("季度"));
    QFrame *fraItem = AddFrame(QStringLiteral("fraItem"), 6480, 840);
    AddCodeRow(fraItem, 405, 0, QStringLiteral("发卡分店"), 0, 1, 0);

    QFrame *fraGroup = AddFrame(QStringLiteral("fraGroup"), 6480, 1100);
    AddLabel(fraGroup, QStringLiteral("存管比例"), 165, 245, 1000);
    cboRatio = AddComboBox(fraGroup, QStringLiteral("cboRatio"), 1200, 200, 1600);
    for (int ratio : {40, 30, 20})
        cboRatio->addItem(QStringLiteral("%1%").arg(ratio), ratio);
    AddLabel(fraGroup, QStringLiteral("收入上限"), 165, 645, 1000);
    txtCap = addSpin(fraGroup, "txtCap", 1, 100, 1200, 600);
    txtCap->setSuffix(QStringLiteral("%"));

    setTabOrder(DtpBDate, DtpEDate);
    setTabOrder(DtpEDate, txtItem[0]);
    setTabOrder(txtItem[0], txtItem[1]);
    setTabOrder(txtItem[1], cboRatio);
    setTabOrder(cboRatio, txtCap);
    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
    Panel()->AddFrame(fraGroup);
}

void frmFilter10911::Form_Load()
{
    LoadSteps();
    Guarded([this] {
        ShowPeriodOf(QDate::currentDate().addMonths(-3));   // the quarter just closed
        txtCap->setValue(40);
    });
}

void frmFilter10911::SaveFilter(DictionaryPtr &Filter)
{
    Guarded([&] {
        Filter->SetValue(QStringLiteral("Year"), qint32(DtpBDate->value()));
        Filter->SetValue(QStringLiteral("Quarter"), qint32(DtpEDate->value()));
        SaveBoxes(Filter, {{"BBranchNum", 0}, {"EBranchNum", 1}});
        Filter->SetValue(QStringLiteral("CustodyRatio"), qint32(cboRatio->currentData().toInt()));
        Filter->SetValue(QStringLiteral("RevenueCap"), qint32(txtCap->value()));
    });
}

void frmFilter10911::LoadFilter(DictionaryPtr &Filter)
{
    const QDate today = QDate::currentDate();
    Guarded([&] { DtpBDate->setValue(VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("Year"), today.year()))); });
    Guarded([&] { DtpEDate->setValue(VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("Quarter"), (today.month() + 2) / 3))); });
    LoadBoxes(Filter, {{"BBranchNum", 0}, {"EBranchNum", 1}});
    Guarded([&] {
        const int at = cboRatio->findData(VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("CustodyRatio"), 40)));
        cboRatio->setCurrentIndex(at < 0 ? 0 : at);
    });
    Guarded([&] { txtCap->setValue(VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("RevenueCap"), 40))); });
}

void frmFilter10911::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    AnswerBranchOrCard(IndexOf(Ctrl), headOnly, LookupType, Condition);
}
