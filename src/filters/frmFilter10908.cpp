#include "frmFilter10908.h"

#include "Dictionary.h"
#include "FilterPanel.h"
#include "VariantConvert.h"

#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

#include "dialog/Twips.h"

namespace {
// The text boxes: branch range, card type range.
const std::pair<const char *, int> boxes[] = {{"BBranchNum", 0}, {"EBranchNum", 1}, {"BVipTypeNum", 2}, {"EVipTypeNum", 3}};
} // namespace

frmFilter10908::frmFilter10908(QWidget *parent)
    : FilterForm(QSize(10125, 4800), parent)
{
    setObjectName(QStringLiteral("frmFilter10908"));
    QFrame *fraPeriod = AddFrame(QStringLiteral("fraPeriod"), 6480, 855);
    lbl[4] = AddLabel(fraPeriod, QStringLiteral("查询期间"), 165, 345);
    DtpBDate = new QSpinBox(fraPeriod);
    DtpBDate->setObjectName(QStringLiteral("DtpBDate"));
    DtpBDate->setRange(1900, 9999);
    DtpBDate->setGeometry(Twips::Rect(1200, 270, 1200, 300));
    lbl[5] = AddLabel(fraPeriod, QStringLiteral("年"), 2490, 345, 300);
    DtpEDate = new QSpinBox(fraPeriod);
    DtpEDate->setObjectName(QStringLiteral("DtpEDate"));
    DtpEDate->setRange(1, 12);
    DtpEDate->setGeometry(Twips::Rect(2880, 270, 900, 300));
    lbl[6] = AddLabel(fraPeriod, QStringLiteral("月"), 3870, 345, 300);

    QFrame *fraItem = AddFrame(QStringLiteral("fraItem"), 6480, 1200);
    AddCodeRow(fraItem, 405, 0, QStringLiteral("分    店"), 0, 1, 0);
    AddCodeRow(fraItem, 765, 1, QStringLiteral("卡 类 别"), 2, 3, 2);

    setTabOrder(DtpBDate, DtpEDate);
    setTabOrder(DtpEDate, txtItem[0]);
    setTabOrder(txtItem[0], txtItem[1]);
    setTabOrder(txtItem[1], txtItem[2]);
    setTabOrder(txtItem[2], txtItem[3]);
    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
}

void frmFilter10908::Form_Load()
{
    Guarded([this] { SetPanelReportID(); });
    Guarded([this] { CreateResult(); });
    Guarded([this] { ResetActiveTab(); });
    Guarded([this] {
        // The month just closed.
        const QDate last = QDate::currentDate().addMonths(-1);
        DtpBDate->setValue(last.year());
        DtpEDate->setValue(last.month());
    });
}

void frmFilter10908::SaveFilter(DictionaryPtr &Filter)
{
    Guarded([&] {
        Filter->SetValue(QStringLiteral("Year"), qint32(DtpBDate->value()));
        Filter->SetValue(QStringLiteral("Month"), double(DtpEDate->value()));
        for (const auto &[key, index] : boxes)
            Filter->SetValue(QLatin1String(key), Trimmed(txtItem[index]));
    });
}

void frmFilter10908::LoadFilter(DictionaryPtr &Filter)
{
    Guarded([&] { DtpBDate->setValue(VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("Year"), QDate::currentDate().year()))); });
    Guarded([&] { DtpEDate->setValue(int(VariantConvert::ToDouble(Filter->GetValue(QStringLiteral("Month"), QDate::currentDate().month())))); });
    for (const auto &[key, index] : boxes)
        Guarded([&] { txtItem[index]->setText(VariantConvert::ToText(Filter->GetValue(QLatin1String(key), QString()))); });
}

void frmFilter10908::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    const int index = IndexOf(Ctrl);
    if (index == 2 || index == 3)
        LookupType = LookupKind::CardType;
    else if (index == 0 || index == 1)
        AnswerBranchOrCard(index, QLatin1String(FilterText::BranchHeadOnly), LookupType, Condition);
}
